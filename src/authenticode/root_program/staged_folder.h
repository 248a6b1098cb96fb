// A folder of Windows' root program replaced whole: the new one is written
// beside it and swapped in at once, so that a reader sees the old folder or
// the new one, never a mix, and a sync that fails or is killed leaves the
// old one as it was.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_STAGED_FOLDER_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_STAGED_FOLDER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sealprobe {

// What could not be done to the folder, and the system's error number.
struct FolderProblem {
  enum class Step {
    kNone,
    kParent,   // its parent folders cannot be made
    kLock,     // the lock beside it cannot be taken
    kBusy,     // another sync holds that lock
    kForeign,  // the folder holds what no folder of Windows' root program
               // holds (a subfolder, a link, a file not *.stl, *.cab,
               // *.crt, *.sst or *.txt: `error` ENOTEMPTY), or cannot be
               // read to tell, so it is not replaced
    kCleanup,  // what an earlier sync left cannot be removed
    kCreate,   // the new folder cannot be made
    kWrite,    // a file of it cannot be written
    kSwap,     // it cannot be swapped in for the old
  };
  Step step = Step::kNone;
  std::string path;
  int error = 0;  // errno
};

class StagedFolder {
 public:
  // Takes the lock beside `folder` (a file in its parent, which is made
  // with its missing parents, 0755, when need be), makes sure that the
  // folder, if there is one, holds only regular files of the kinds a
  // folder of Windows' root program holds, and removes what a sync killed
  // earlier left beside it. Null, with `problem` set, when it cannot.
  static std::unique_ptr<StagedFolder> Open(const std::string& folder,
                                            FolderProblem* problem);
  // Removes the new folder when it was begun and not swapped in; releases
  // the lock.
  ~StagedFolder();
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;

  const std::string& folder() const;
  // The new folder, once begun: readable at this path until Commit.
  const std::string& staging() const;

  // Makes the new folder beside the old, empty, 0755.
  bool Begin(FolderProblem* problem);
  // Writes the file `name` of the new folder, 0644, flushed to the disk.
  bool Write(const std::string& name, const std::vector<uint8_t>& bytes,
             FolderProblem* problem);
  // Puts the new folder where the old one was in one step, then removes
  // the old one. The old one stays whole if this fails.
  bool Commit(FolderProblem* problem);

 private:
  struct State;
  explicit StagedFolder(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_STAGED_FOLDER_H_

// What sealprobe-explain checks: the paths it is given, each folder among
// them walked for the files inside that Windows verifies signatures of.
#ifndef SEALPROBE_EXPLAIN_DECIDE_INPUTS_H_
#define SEALPROBE_EXPLAIN_DECIDE_INPUTS_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/byte_source.h"
#include "explain/decide/file_kind.h"

namespace sealprobe {

// The file system, as the walk sees it. Paths are bytes, passed on as given.
class FileTree {
 public:
  enum class Kind {
    kMissing,      // nothing there, or a link to nothing
    kFolder,       // a folder (for an entry: a folder itself, not a link)
    kRegularFile,  // a regular file, or a link to one
    kOther,        // a link to a folder, a FIFO, a device, a socket...
  };
  struct Entry {
    std::string name;  // within its folder
    Kind kind;
  };

  virtual ~FileTree() = default;

  // What `path` is, following links. kMissing, with `reason` (the
  // system's words), when it cannot be looked at: nothing is there, or a
  // folder on the way cannot be searched.
  virtual Kind KindOf(const std::string& path, std::string* reason) = 0;

  // The entries of the folder `path`, without "." and "..", in the order
  // the system gives them, and no more than `most` + 1 of them (one more
  // says there are more); a link inside is judged by what it points to
  // (Kind), except that a folder is kFolder only when it is no link. False,
  // with `reason`, when the folder cannot be read.
  virtual bool List(const std::string& path, size_t most,
                    std::vector<Entry>* entries, std::string* reason) = 0;

  // The regular file at `path`, open to be read. Null when it cannot be
  // opened, with `reason` (the system's words), or when it is no longer a
  // regular file, with `reason` empty.
  virtual std::unique_ptr<ByteSource> Open(const std::string& path,
                                           std::string* reason) = 0;
};

std::unique_ptr<FileTree> MakePlatformFileTree();

// A folder or file that could not be read: its path and why (the system's
// words for the error).
struct InputProblem {
  std::string path;
  std::string reason;
};

// A file to check.
struct InputFile {
  std::string path;
  // Of a kind Windows signs that sealprobe does not verify
  // (IsUnsupported), found by its content: listed, never valid. Nothing
  // for any other file.
  std::optional<FileKind> unsupported;
};

// What the walk of one folder found in it, however deep.
struct FolderCount {
  std::string path;        // as given
  size_t verified = 0;     // PE images and installers: checked
  size_t unsupported = 0;  // of kinds Windows signs, not verified: listed
  size_t others = 0;       // regular files of no kind Windows signs: left out

  // Whether the walk found nothing to list.
  bool empty() const { return verified == 0 && unsupported == 0; }
};

struct Inputs {
  std::vector<InputFile> files;      // to check, in this order
  std::vector<FolderCount> folders;  // each folder walked, in order
  std::vector<InputProblem> problems;
};

struct WalkLimits {
  // Entries a folder argument's walk looks at, all its folders together;
  // past it the walk stops with a problem for the argument.
  size_t max_entries = size_t{1} << 20;
};

// The kind of the regular file at `path` by its content (KindOfContent),
// kOther when it is no longer a regular file. Nothing, with `reason`, when
// it cannot be opened or read.
std::optional<FileKind> KindOfFile(FileTree& tree, const std::string& path,
                                   std::string* reason);

// Adds to `inputs` every regular file under the folder `root`, however
// deep, that is of a kind Windows signs (file_kind.h: a PE image or an
// installer, to check; a file of a kind not verified, with its kind),
// whatever its name, in byte order of the paths (strcmp), each `root`
// joined to the path within it by '/' (none added when `root` ends in one;
// `root` empty is the current folder, its files' paths relative); and what
// the walk found to `inputs->folders`. Links to regular files are followed
// and checked under the link's path, links to folders are not followed,
// and anything that is not a regular file is left out. A folder that
// cannot be read, and a file whose content cannot be read, are problems;
// the walk goes on past them. The walk holds no recursion and opens one
// folder at a time.
void AddFolder(const std::string& root, FileTree& tree,
               const WalkLimits& limits, Inputs* inputs);

// The files to check for `args`, in the order given. An argument that is
// a folder (through a link too) stands for the files AddFolder finds under
// it. Any other argument is a file, kept as given, whatever it holds or
// whether it is there (its verification says); one of a kind Windows signs
// that is not verified is marked so.
Inputs CollectInputs(const std::vector<std::string>& args, FileTree& tree,
                     const WalkLimits& limits = {});

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_INPUTS_H_

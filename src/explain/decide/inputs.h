// What sealprobe-explain checks: the paths it is given, each folder among
// them walked for the programs inside.
#ifndef SEALPROBE_EXPLAIN_DECIDE_INPUTS_H_
#define SEALPROBE_EXPLAIN_DECIDE_INPUTS_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

  // Whether the regular file at `path` starts with the two bytes "MZ",
  // reading no more than those; false too when it is no longer a regular
  // file. Nothing, with `reason`, when it cannot be opened or read.
  virtual std::optional<bool> StartsWithMz(const std::string& path,
                                           std::string* reason) = 0;
};

std::unique_ptr<FileTree> MakePlatformFileTree();

// A folder or file that could not be read: its path and why (the system's
// words for the error).
struct InputProblem {
  std::string path;
  std::string reason;
};

struct Inputs {
  std::vector<std::string> files;  // to check, in this order
  std::vector<InputProblem> problems;
};

struct WalkLimits {
  // Entries a folder argument's walk looks at, all its folders together;
  // past it the walk stops with a problem for the argument.
  size_t max_entries = size_t{1} << 20;
};

// The files to check for `args`, in the order given. An argument that is
// a folder (through a link too) stands for every regular file under it,
// however deep, that starts with "MZ", whatever its name, in byte order of
// the paths (strcmp), each the argument joined to the path within it by
// '/' (none added when the argument ends in one). Inside, links to regular
// files are followed and checked under the link's path, links to folders
// are not followed, and anything that is not a regular file is left out.
// Any other argument is a file, kept as given, whatever it holds or
// whether it is there (its verification says). A folder that cannot be
// read, and a file inside whose first bytes cannot be read, are problems;
// the walk goes on past them. The walk holds no recursion and opens one
// folder at a time.
Inputs CollectInputs(const std::vector<std::string>& args, FileTree& tree,
                     const WalkLimits& limits = {});

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_INPUTS_H_

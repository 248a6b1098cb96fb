// The new folder is .NAME.new-XXXXXX beside NAME, and the lock .NAME.lock:
// the same parent, so that one rename swaps them. Linux's
// renameat2(RENAME_EXCHANGE) swaps two folders in one step, so NAME is
// always one whole folder; after the swap the old one is under the new
// one's name, and becomes .NAME.old, in place of the one before it: a run
// that opened NAME before the swap goes on reading the old folder through
// its descriptor (ReadRootFolder), and the old folder stays whole until
// the next sync. A sync killed before the swap leaves its .NAME.new-*
// behind, which the next one removes under the lock.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "authenticode/root_program/staged_folder.h"
#include "file_descriptor.h"

namespace sealprobe {

struct StagedFolder::State {
  std::string folder;  // as given, without trailing slashes
  std::string parent;
  std::string name;  // the folder's own name in `parent`
  FileDescriptor lock;
  std::string staging;  // empty until Begin
  FileDescriptor staging_fd;
  bool committed = false;
};

namespace {

bool Problem(FolderProblem* problem, FolderProblem::Step step,
             const std::string& path, int error) {
  problem->step = step;
  problem->path = path;
  problem->error = error;
  return false;
}

std::string PathIn(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// Makes `path` and its missing parents, each 0755 whatever the umask.
bool MakeFolders(const std::string& path, int* error) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    struct stat info {};
    if (::stat(part.c_str(), &info) != 0) {
      if (::mkdir(part.c_str(), 0755) != 0 ||
          ::chmod(part.c_str(), 0755) != 0) {
        *error = errno;
        return false;
      }
    } else if (!S_ISDIR(info.st_mode)) {
      *error = ENOTDIR;
      return false;
    }
    if (end == std::string::npos) return true;
  }
}

// The names in the folder open as `fd` (which is closed); nullopt when it
// cannot be listed.
std::optional<std::vector<std::string>> Names(int fd) {
  const FileDescriptor folder(fd);
  return FolderNames(folder, static_cast<size_t>(-1));
}

// Removes `name` in the folder open as `at`: a file or link, or a folder
// with what it holds, links not followed, at most `depth` levels down.
bool RemoveTree(int at, const std::string& name, int depth) {
  const int fd = ::openat(at, name.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return ::unlinkat(at, name.c_str(), 0) == 0 || errno == ENOENT;
  }
  const FileDescriptor folder(::dup(fd));
  const std::optional<std::vector<std::string>> names = Names(fd);
  if (!folder.valid() || !names) return false;
  for (const std::string& entry : *names) {
    if (::unlinkat(folder.get(), entry.c_str(), 0) == 0) continue;
    if ((errno != EISDIR && errno != EPERM) || depth == 0 ||
        !RemoveTree(folder.get(), entry, depth - 1)) {
      return false;
    }
  }
  return ::unlinkat(at, name.c_str(), AT_REMOVEDIR) == 0;
}

// Whether the folder holds only what a folder of Windows' root program
// holds: regular files named *.stl, *.cab, *.crt, *.sst or *.txt. Another
// folder is never replaced, nor removed after the swap: a --dir that names
// a home folder must not lose it.
bool HoldsOnlyTrustFiles(const std::string& folder, int* error) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return errno == ENOENT;
  }
  const FileDescriptor held(::dup(fd));
  const std::optional<std::vector<std::string>> names = Names(fd);
  *error = ENOTEMPTY;
  if (!held.valid() || !names) return false;
  for (std::string name : *names) {
    struct stat info {};
    if (::fstatat(held.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode)) {
      return false;
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const size_t dot = name.rfind('.');
    const std::string kind = dot == std::string::npos ? "" : name.substr(dot);
    if (kind != ".stl" && kind != ".cab" && kind != ".crt" && kind != ".sst" &&
        kind != ".txt") {
      return false;
    }
  }
  return true;
}

// Removes what syncs killed before their swap left beside the folder.
bool RemoveLeftovers(const std::string& parent, const std::string& prefix,
                     FolderProblem* problem) {
  const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const FileDescriptor at(fd < 0 ? -1 : ::dup(fd));
  const std::optional<std::vector<std::string>> names =
      fd < 0 ? std::nullopt : Names(fd);
  if (!at.valid() || !names) {
    return Problem(problem, FolderProblem::Step::kCleanup, parent, errno);
  }
  for (const std::string& name : *names) {
    if (name.compare(0, prefix.size(), prefix) == 0 &&
        !RemoveTree(at.get(), name, 1)) {
      return Problem(problem, FolderProblem::Step::kCleanup,
                     PathIn(parent, name), errno);
    }
  }
  return true;
}

}  // namespace

StagedFolder::StagedFolder(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

StagedFolder::~StagedFolder() {
  if (state_->staging.empty() || state_->committed) return;
  const FileDescriptor parent(
      ::open(state_->parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::string name =
      state_->staging.substr(state_->staging.rfind('/') + 1);
  if (parent.valid()) RemoveTree(parent.get(), name, 1);
}

std::unique_ptr<StagedFolder> StagedFolder::Open(const std::string& folder,
                                                 FolderProblem* problem) {
  auto state = std::make_unique<State>();
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  state->folder = path;
  state->parent = slash == std::string::npos ? "."
                  : slash == 0               ? "/"
                                             : path.substr(0, slash);
  state->name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (state->name.empty() || state->name == "." || state->name == "..") {
    Problem(problem, FolderProblem::Step::kParent, folder, EINVAL);
    return nullptr;
  }
  int error = 0;
  if (!MakeFolders(state->parent, &error)) {
    Problem(problem, FolderProblem::Step::kParent, state->parent, error);
    return nullptr;
  }
  const std::string lock = PathIn(state->parent, "." + state->name + ".lock");
  state->lock = FileDescriptor(
      ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!state->lock.valid() || ::flock(state->lock.get(), LOCK_EX | LOCK_NB)) {
    Problem(problem,
            errno == EWOULDBLOCK ? FolderProblem::Step::kBusy
                                 : FolderProblem::Step::kLock,
            lock, errno);
    return nullptr;
  }
  if (!HoldsOnlyTrustFiles(path, &error)) {
    Problem(problem, FolderProblem::Step::kForeign, path, error);
    return nullptr;
  }
  if (!RemoveLeftovers(state->parent, "." + state->name + ".new-", problem)) {
    return nullptr;
  }
  return std::unique_ptr<StagedFolder>(new StagedFolder(std::move(state)));
}

const std::string& StagedFolder::folder() const { return state_->folder; }
const std::string& StagedFolder::staging() const { return state_->staging; }

bool StagedFolder::Begin(FolderProblem* problem) {
  std::string path = PathIn(state_->parent, "." + state_->name + ".new-XXXXXX");
  if (::mkdtemp(&path[0]) == nullptr) {
    return Problem(problem, FolderProblem::Step::kCreate, path, errno);
  }
  state_->staging = path;
  state_->staging_fd =
      FileDescriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (::chmod(path.c_str(), 0755) != 0 || !state_->staging_fd.valid()) {
    return Problem(problem, FolderProblem::Step::kCreate, path, errno);
  }
  return true;
}

bool StagedFolder::Write(const std::string& name,
                         const std::vector<uint8_t>& bytes,
                         FolderProblem* problem) {
  const FileDescriptor file(
      ::openat(state_->staging_fd.get(), name.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  // fsync before the swap: after a crash the folder is the old one or a
  // whole new one, never one with empty files.
  if (!file.valid() || ::fchmod(file.get(), 0644) != 0 ||
      !WriteAll(file.get(), bytes.data(), bytes.size()) ||
      ::fsync(file.get()) != 0) {
    return Problem(problem, FolderProblem::Step::kWrite,
                   PathIn(state_->staging, name), errno);
  }
  return true;
}

bool StagedFolder::Commit(FolderProblem* problem) {
  State& s = *state_;
  if (::fsync(s.staging_fd.get()) != 0) {
    return Problem(problem, FolderProblem::Step::kWrite, s.staging, errno);
  }
  struct stat info {};
  const bool exists = ::lstat(s.folder.c_str(), &info) == 0;
  const unsigned flags = exists ? RENAME_EXCHANGE : RENAME_NOREPLACE;
  if (::renameat2(AT_FDCWD, s.staging.c_str(), AT_FDCWD, s.folder.c_str(),
                  flags) != 0) {
    return Problem(problem, FolderProblem::Step::kSwap, s.folder, errno);
  }
  s.committed = true;
  const FileDescriptor parent(
      ::open(s.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (parent.valid()) {
    ::fsync(parent.get());
    // The old folder, now under the new one's name, kept as .NAME.old
    // until the next sync. Should that fail, it is removed; should that
    // fail too, the next sync removes it as a leftover.
    if (exists) {
      const std::string swapped = s.staging.substr(s.staging.rfind('/') + 1);
      const std::string old = "." + s.name + ".old";
      if (!RemoveTree(parent.get(), old, 0) ||
          ::renameat(parent.get(), swapped.c_str(), parent.get(),
                     old.c_str()) != 0) {
        RemoveTree(parent.get(), swapped, 0);
      }
    }
  }
  return true;
}

}  // namespace sealprobe

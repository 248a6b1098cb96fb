#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "authenticode/file_byte_source.h"
#include "explain/decide/inputs.h"

namespace sealprobe {
namespace {

std::string ErrorText(int error) {
  return std::generic_category().message(error);
}

// Owns a directory stream.
class Directory {
 public:
  explicit Directory(DIR* dir) : dir_(dir) {}
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

FileTree::Kind KindOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return FileTree::Kind::kFolder;
  if (S_ISREG(mode)) return FileTree::Kind::kRegularFile;
  return FileTree::Kind::kOther;
}

class PosixFileTree final : public FileTree {
 public:
  Kind KindOf(const std::string& path, std::string* reason) override {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return KindOfMode(info.st_mode);
    *reason = ErrorText(errno);
    return Kind::kMissing;
  }

  bool List(const std::string& path, size_t most, std::vector<Entry>* entries,
            std::string* reason) override {
    // Opened close-on-exec, as glibc opens every directory stream.
    const Directory dir(::opendir(path.c_str()));
    if (dir.get() == nullptr) {
      *reason = ErrorText(errno);
      return false;
    }
    const int dir_fd = ::dirfd(dir.get());
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      entries->push_back({name, KindOfEntry(dir_fd, *entry)});
      if (entries->size() > most) return true;
    }
    if (errno != 0) {
      *reason = ErrorText(errno);
      return false;
    }
    return true;
  }

  std::unique_ptr<ByteSource> Open(const std::string& path,
                                   std::string* reason) override {
    int error = 0;
    std::unique_ptr<FileByteSource> file = FileByteSource::Open(path, &error);
    if (!file) *reason = error != 0 ? ErrorText(error) : std::string();
    return file;
  }

 private:
  // What `entry` is without following a link, except that a link to a
  // regular file is one.
  static Kind KindOfEntry(int dir_fd, const dirent& entry) {
    switch (entry.d_type) {
      case DT_DIR:
        return Kind::kFolder;
      case DT_REG:
        return Kind::kRegularFile;
      case DT_LNK:
      case DT_UNKNOWN:
        break;
      default:
        return Kind::kOther;
    }
    struct stat info {};
    if (::fstatat(dir_fd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return Kind::kMissing;
    }
    if (!S_ISLNK(info.st_mode)) return KindOfMode(info.st_mode);
    // A link to a folder, to nothing, or in a loop is not followed.
    if (::fstatat(dir_fd, entry.d_name, &info, 0) != 0) return Kind::kMissing;
    return S_ISREG(info.st_mode) ? Kind::kRegularFile : Kind::kOther;
  }
};

}  // namespace

std::unique_ptr<FileTree> MakePlatformFileTree() {
  return std::make_unique<PosixFileTree>();
}

}  // namespace sealprobe

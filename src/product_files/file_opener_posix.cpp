#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "product_files/file_opener.h"

namespace sealprobe {
namespace {

class PosixOpenFile final : public OpenFile {
 public:
  explicit PosixOpenFile(int fd) : fd_(fd) {}
  ~PosixOpenFile() override { ::close(fd_); }

 private:
  int fd_;
};

class PosixFileOpener final : public FileOpener {
 public:
  std::unique_ptr<OpenFile> OpenForReading(const NativeString& path) override {
    // Non-blocking, so a FIFO or a device under a product file's name cannot
    // hold the run up; only a regular file counts as present.
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixOpenFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    return file;
  }
};

}  // namespace

std::unique_ptr<FileOpener> MakePlatformFileOpener() {
  return std::make_unique<PosixFileOpener>();
}

}  // namespace sealprobe

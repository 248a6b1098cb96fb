#include <utility>

#include "file_descriptor.h"
#include "product_files/file_opener.h"

namespace sealprobe {
namespace {

class PosixOpenFile final : public OpenFile {
 public:
  explicit PosixOpenFile(FileDescriptor fd) : fd_(std::move(fd)) {}

 private:
  FileDescriptor fd_;
};

class PosixFileOpener final : public FileOpener {
 public:
  std::unique_ptr<OpenFile> OpenForReading(const NativeString& path) override {
    // Only a regular file counts as present, and nothing under a product
    // file's name can hold the run up.
    std::optional<RegularFile> file = OpenRegularFile(path);
    if (!file) return nullptr;
    return std::make_unique<PosixOpenFile>(std::move(file->fd));
  }
};

}  // namespace

std::unique_ptr<FileOpener> MakePlatformFileOpener() {
  return std::make_unique<PosixFileOpener>();
}

}  // namespace sealprobe

#include <windows.h>

#include "long_path.h"
#include "product_files/file_opener.h"

namespace sealprobe {
namespace {

class Win32OpenFile final : public OpenFile {
 public:
  explicit Win32OpenFile(HANDLE handle) : handle_(handle) {}
  ~Win32OpenFile() override { ::CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

class Win32FileOpener final : public FileOpener {
 public:
  std::unique_ptr<OpenFile> OpenForReading(const NativeString& path) override {
    // Others may keep reading and writing the file, but while the probe holds
    // it nobody can delete or rename it before it is verified. Without
    // FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    const HANDLE handle =
        ::CreateFileW(PathForFileFunctions(path).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32OpenFile>(handle);
  }
};

}  // namespace

std::unique_ptr<FileOpener> MakePlatformFileOpener() {
  return std::make_unique<Win32FileOpener>();
}

}  // namespace sealprobe

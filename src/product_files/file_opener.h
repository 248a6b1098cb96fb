// Opening a candidate file for reading: the only test of whether a product
// file is present.
#ifndef SEALPROBE_PRODUCT_FILES_FILE_OPENER_H_
#define SEALPROBE_PRODUCT_FILES_FILE_OPENER_H_

#include <memory>

#include "native_text.h"

namespace sealprobe {

// An open read handle. Destroying it closes the handle; nothing is read
// through it.
class OpenFile {
 public:
  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  virtual ~OpenFile() = default;
};

class FileOpener {
 public:
  virtual ~FileOpener() = default;
  // Opens `path` for reading, letting others read and write the file
  // meanwhile but not delete or rename it where the platform can say so.
  // Returns null when the path does not open as a regular file: missing, no
  // access, locked against readers, a directory, a FIFO, a device. Never
  // blocks on what it finds.
  virtual std::unique_ptr<OpenFile> OpenForReading(
      const NativeString& path) = 0;
};

std::unique_ptr<FileOpener> MakePlatformFileOpener();

}  // namespace sealprobe

#endif  // SEALPROBE_PRODUCT_FILES_FILE_OPENER_H_

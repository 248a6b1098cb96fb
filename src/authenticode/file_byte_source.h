// The bytes of a file on disk, for the POSIX trust service.
#ifndef SEALPROBE_AUTHENTICODE_FILE_BYTE_SOURCE_H_
#define SEALPROBE_AUTHENTICODE_FILE_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "authenticode/byte_source.h"
#include "file_descriptor.h"

namespace sealprobe {

// A source over an open regular file, read with pread and streamed in
// 64 KiB blocks through a buffer of six, 384 KiB in all whatever the file's
// size, held only while a stream lasts. A stream of 4 MiB or more is read ahead
// on a second thread, started and joined within the call, while the sink works
// on the calling thread, as long as that thread has a processor no other long
// stream is using; a shorter one is read in line. Its size is the file's size
// when it was opened; a file that shrinks later makes reads fail rather than
// return less. One source serves one thread at a time; any number may be in use
// at once.
class FileByteSource final : public ByteSource {
 public:
  // Opens `path` as OpenRegularFile (file_descriptor.h) does; null when that
  // gives nothing, with `error` then as OpenRegularFile sets it.
  static std::unique_ptr<FileByteSource> Open(const std::string& path,
                                              int* error = nullptr);

  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override;
  bool Stream(uint64_t offset, uint64_t length, const ChunkSink& sink) override;

 private:
  explicit FileByteSource(RegularFile file)
      : fd_(std::move(file.fd)), size_(file.size) {}

  FileDescriptor fd_;
  uint64_t size_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_FILE_BYTE_SOURCE_H_

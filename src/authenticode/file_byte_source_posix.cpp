#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "authenticode/file_byte_source.h"

namespace sealprobe {
namespace {

// The size of the pieces Stream hands out.
constexpr size_t kBlockSize = size_t{256} * 1024;

}  // namespace

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path,
                                                     int* error) {
  std::optional<RegularFile> file = OpenRegularFile(path, error);
  if (!file) return nullptr;
  return std::unique_ptr<FileByteSource>(new FileByteSource(std::move(*file)));
}

bool FileByteSource::ReadAt(uint64_t offset, uint8_t* out, size_t length) {
  if (!Contains(offset, length)) return false;
  while (length != 0) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      return false;
    }
    const ssize_t got =
        ::pread(fd_.get(), out, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    // Zero means the file shrank under us: the bytes promised are gone.
    if (got <= 0) return false;
    out += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}

bool FileByteSource::Stream(uint64_t offset, uint64_t length,
                            const ChunkSink& sink) {
  if (!Contains(offset, length)) return false;
  if (length == 0) return true;
  if (block_.empty()) {
    block_.resize(kBlockSize);
    // The hash walks the file once from front to back: let the kernel read
    // ahead generously. Advice only, so its result does not matter.
    ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  while (length != 0) {
    const size_t piece =
        static_cast<size_t>(std::min<uint64_t>(length, block_.size()));
    if (!ReadAt(offset, block_.data(), piece)) return false;
    if (!sink(block_.data(), piece)) return false;
    offset += piece;
    length -= piece;
  }
  return true;
}

}  // namespace sealprobe

#include "trust/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace sealprobe {

bool MemoryByteSource::ReadAt(uint64_t offset, uint8_t* out, size_t length) {
  if (!Contains(offset, length)) return false;
  if (length != 0) std::memcpy(out, data_ + offset, length);
  return true;
}

bool MemoryByteSource::Stream(uint64_t offset, uint64_t length,
                              const ChunkSink& sink) {
  if (!Contains(offset, length)) return false;
  return length == 0 || sink(data_ + offset, static_cast<size_t>(length));
}

FileByteSource::Opened FileByteSource::Open(const std::string& path) {
  // O_NONBLOCK so that a FIFO or a device under the file's name cannot hold
  // the run up; the regular-file check comes right after.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {OpenStatus::kCannotOpen, nullptr};
  std::unique_ptr<FileByteSource> source(new FileByteSource(fd, 0));
  struct stat info {};
  if (::fstat(fd, &info) != 0) return {OpenStatus::kCannotOpen, nullptr};
  if (!S_ISREG(info.st_mode)) return {OpenStatus::kNotRegularFile, nullptr};
  source->size_ = static_cast<uint64_t>(info.st_size);
  return {OpenStatus::kOk, std::move(source)};
}

FileByteSource::~FileByteSource() { ::close(fd_); }

bool FileByteSource::ReadAt(uint64_t offset, uint8_t* out, size_t length) {
  if (!Contains(offset, length)) return false;
  while (length != 0) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      return false;
    }
    const ssize_t got = ::pread(fd_, out, length, static_cast<off_t>(offset));
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
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
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

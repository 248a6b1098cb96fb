#include "authenticode/byte_source.h"

#include <cstring>

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

}  // namespace sealprobe

// The bytes of a file under verification, read at offsets: from a buffer in
// memory here, from a file on disk in file_byte_source.h. Everything
// that reads a subject goes through this, so the same verification runs over
// a file on disk and over a fuzzer's input.
#ifndef SEALPROBE_AUTHENTICODE_BYTE_SOURCE_H_
#define SEALPROBE_AUTHENTICODE_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sealprobe {

// Receives consecutive pieces of a range. Returning false stops the stream.
using ChunkSink = std::function<bool(const uint8_t* data, size_t size)>;

// Little-endian fields of a file's bytes, read whatever the host's order.
inline uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) {
  return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // The size in bytes, fixed when the source was made.
  virtual uint64_t size() const = 0;

  // Copies the `length` bytes at `offset` into `out`. Returns false when the
  // range is not wholly inside [0, size()) or the read fails; callers that
  // checked the range against size() first can take false as a read error.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t length) = 0;

  // Hands the `length` bytes at `offset` to `sink` in order, in non-empty
  // pieces, on the calling thread, holding no more than a few blocks of its
  // own in memory whatever the length. Returns false when the range is
  // outside the source, a read fails or the sink stops the stream.
  virtual bool Stream(uint64_t offset, uint64_t length,
                      const ChunkSink& sink) = 0;

  // True when [offset, offset + length) lies inside the source, without
  // overflowing.
  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }
};

// A source over bytes in memory that the caller keeps alive and unchanged
// for the life of the source. Reads never fail inside the range.
class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size)
      : data_(data), size_(size) {}

  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override;
  bool Stream(uint64_t offset, uint64_t length, const ChunkSink& sink) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_BYTE_SOURCE_H_

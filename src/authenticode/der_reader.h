// Reading DER one element after another, for the formats OpenSSL has no
// decoder for (Windows' trust lists, a certificate's subject without the
// cost of decoding the certificate).
#ifndef SEALPROBE_AUTHENTICODE_DER_READER_H_
#define SEALPROBE_AUTHENTICODE_DER_READER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sealprobe {

// The universal tags these formats use.
namespace der {
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kObject = 0x06;
constexpr uint8_t kUtcTime = 0x17;
constexpr uint8_t kGeneralizedTime = 0x18;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kContext0 = 0xa0;  // [0], constructed

// Writes into `out` a header of `identifier` (one octet) and `length` in
// its shortest definite form; returns its size.
inline size_t EncodeHeader(uint8_t identifier, size_t length,
                           uint8_t (&out)[2 + sizeof(size_t)]) {
  out[0] = identifier;
  if (length < 0x80) {
    out[1] = static_cast<uint8_t>(length);
    return 2;
  }
  size_t count = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) ++count;
  out[1] = static_cast<uint8_t>(0x80 | count);
  for (size_t i = 0; i < count; ++i) {
    out[1 + count - i] = static_cast<uint8_t>(length >> (8 * i));
  }
  return 2 + count;
}
}  // namespace der

// DER elements one after another, read without recursion: each Next()
// checks the header and the length against what is left before anything is
// read. Only the low-tag-number form and definite lengths are DER's.
class Der {
 public:
  Der() = default;
  Der(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }
  uint8_t PeekTag() const { return size_ > 0 ? data_[0] : 0; }

  // The next element: its tag, its contents, and its whole encoding.
  bool Next(uint8_t* tag, Der* contents, Der* whole = nullptr) {
    if (size_ < 2 || (data_[0] & 0x1f) == 0x1f) return false;
    size_t length = data_[1];
    size_t header = 2;
    if (length & 0x80) {
      const size_t octets = length & 0x7f;
      // Indefinite (0x80) is BER's; more than 4 octets is more than any
      // file here holds.
      if (octets == 0 || octets > 4 || size_ < 2 + octets) return false;
      length = 0;
      for (size_t i = 0; i < octets; ++i) length = length << 8 | data_[2 + i];
      header += octets;
    }
    if (length > size_ - header) return false;
    *tag = data_[0];
    *contents = Der(data_ + header, length);
    if (whole != nullptr) *whole = Der(data_, header + length);
    data_ += header + length;
    size_ -= header + length;
    return true;
  }

  // The next element if it has `tag`.
  bool Expect(uint8_t tag, Der* contents, Der* whole = nullptr) {
    uint8_t got = 0;
    return PeekTag() == tag && Next(&got, contents, whole);
  }

  using Bytes = std::vector<uint8_t>;
  Bytes bytes() const { return Bytes(data_, data_ + size_); }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_DER_READER_H_

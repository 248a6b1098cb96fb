// Bytes written as hexadecimal digits, two to a byte, most significant
// first, as digests and serial numbers are shown and named.
#ifndef SEALPROBE_HEX_H_
#define SEALPROBE_HEX_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sealprobe {

enum class HexCase { kLower, kUpper };

inline std::string HexOf(const uint8_t* bytes, size_t size,
                         HexCase letters = HexCase::kLower) {
  const char* digits =
      letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  out.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// The same for anything with data() and size() of bytes.
template <typename Bytes>
std::string HexOf(const Bytes& bytes, HexCase letters = HexCase::kLower) {
  return HexOf(bytes.data(), bytes.size(), letters);
}

}  // namespace sealprobe

#endif  // SEALPROBE_HEX_H_

// DER written by hand for tests: elements with definite lengths in their
// shortest form, built from the inside out.
#ifndef SEALPROBE_TESTING_DER_BUILDER_H_
#define SEALPROBE_TESTING_DER_BUILDER_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace sealprobe {

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Repeat(const Bytes& part, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

// One DER element, its length in the shortest form.
inline Bytes Tlv(uint8_t tag, const Bytes& contents) {
  Bytes out = {tag};
  const size_t n = contents.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    Bytes length;
    for (size_t v = n; v != 0; v >>= 8) {
      length.insert(length.begin(), static_cast<uint8_t>(v));
    }
    out.push_back(static_cast<uint8_t>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  return Cat({out, contents});
}

inline Bytes Seq(std::initializer_list<Bytes> parts) {
  return Tlv(0x30, Cat(parts));
}
inline Bytes SetOf(const Bytes& members) { return Tlv(0x31, members); }
inline Bytes Octets(size_t size) { return Tlv(0x04, Bytes(size, 0x55)); }

const Bytes kInteger1 = {0x02, 0x01, 0x01};
const Bytes kOtherOid = {0x06, 0x02, 0x2a, 0x03};  // 1.2.3
const Bytes kSignedDataOid =
    Tlv(0x06, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x02});
const Bytes kDataOid =
    Tlv(0x06, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01});

// What `make` gives for the n that makes it exactly `size` octets long.
template <typename Make>
Bytes Sized(size_t size, Make make) {
  for (size_t n = size; n > 0; --n) {
    Bytes out = make(n);
    if (out.size() == size) return out;
  }
  ADD_FAILURE() << "no encoding of " << size << " octets";
  return {};
}

}  // namespace sealprobe

#endif  // SEALPROBE_TESTING_DER_BUILDER_H_

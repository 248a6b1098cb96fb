#include "authenticode/root_program/serialized_store.h"

#include <cstring>

namespace sealprobe {
namespace {

constexpr uint8_t kHeader[8] = {0, 0, 0, 0, 'C', 'E', 'R', 'T'};
constexpr uint32_t kCertificateElement = 32;
constexpr uint32_t kX509Encoding = 1;
constexpr size_t kElementHeader = 12;

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

SerializedStore Failed(StoreFault fault, uint64_t offset = 0,
                       uint64_t value = 0) {
  SerializedStore store;
  store.error = {fault, offset, value};
  return store;
}

}  // namespace

SerializedStore ReadSerializedStore(const uint8_t* data, size_t size,
                                    size_t max_elements,
                                    size_t max_certificate_bytes) {
  if (size < sizeof(kHeader) || std::memcmp(data, kHeader, 8) != 0) {
    return Failed(StoreFault::kNoHeader);
  }
  SerializedStore store;
  size_t at = sizeof(kHeader);
  for (size_t elements = 0; at < size; ++elements) {
    const size_t left = size - at;
    if (left < kElementHeader) {
      return Failed(StoreFault::kHeaderCutShort, at);
    }
    const uint32_t id = ReadLe32(data + at);
    const uint32_t encoding = ReadLe32(data + at + 4);
    const uint32_t length = ReadLe32(data + at + 8);
    if (id == 0 && length == 0) break;  // the trailer
    if (elements == max_elements) {
      return Failed(StoreFault::kTooManyElements);
    }
    if (encoding != kX509Encoding) {
      return Failed(StoreFault::kEncodingType, at, encoding);
    }
    if (length > left - kElementHeader) {
      return Failed(StoreFault::kPastTheEnd, at, length);
    }
    if (id == kCertificateElement) {
      if (length > max_certificate_bytes) {
        return Failed(StoreFault::kCertificateTooLarge, at);
      }
      store.certificates.push_back({at + kElementHeader, length});
    }
    at += kElementHeader + length;
  }
  return store;
}

}  // namespace sealprobe

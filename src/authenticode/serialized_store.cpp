#include "authenticode/serialized_store.h"

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

SerializedStore Failed(std::string why) {
  SerializedStore store;
  store.error = std::move(why);
  return store;
}

}  // namespace

SerializedStore ReadSerializedStore(const uint8_t* data, size_t size,
                                    size_t max_elements,
                                    size_t max_certificate_bytes) {
  if (size < sizeof(kHeader) || std::memcmp(data, kHeader, 8) != 0) {
    return Failed("it does not start as a serialized store (0, \"CERT\")");
  }
  SerializedStore store;
  size_t at = sizeof(kHeader);
  for (size_t elements = 0; at < size; ++elements) {
    const size_t left = size - at;
    if (left < kElementHeader) {
      return Failed("an element header at offset " + std::to_string(at) +
                    " is cut short");
    }
    const uint32_t id = ReadLe32(data + at);
    const uint32_t encoding = ReadLe32(data + at + 4);
    const uint32_t length = ReadLe32(data + at + 8);
    if (id == 0 && length == 0) break;  // the trailer
    if (elements == max_elements) {
      return Failed("it holds more than " + std::to_string(max_elements) +
                    " elements");
    }
    if (encoding != kX509Encoding) {
      return Failed("the element at offset " + std::to_string(at) +
                    " has encoding type " + std::to_string(encoding) +
                    ", not 1");
    }
    if (length > left - kElementHeader) {
      return Failed("the element at offset " + std::to_string(at) +
                    " says it is " + std::to_string(length) +
                    " bytes long, past the end of the file");
    }
    const uint8_t* value = data + at + kElementHeader;
    if (id == kCertificateElement) {
      if (length > max_certificate_bytes) {
        return Failed("the certificate at offset " + std::to_string(at) +
                      " is larger than " +
                      std::to_string(max_certificate_bytes) + " bytes");
      }
      store.certificates.emplace_back(value, value + length);
    }
    at += kElementHeader + length;
  }
  store.ok = true;
  return store;
}

}  // namespace sealprobe

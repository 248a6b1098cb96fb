// Windows' serialized certificate store (.sst), as CertSaveStore writes it
// with CERT_STORE_SAVE_AS_STORE: an 8-byte header (a zero version, then
// "CERT"), then elements, each a 12-byte header of three little-endian
// 32-bit fields (property id, encoding type 1, length) and that many bytes.
// A certificate's properties come before it; the certificate itself is the
// element of property id 32. Twelve zero bytes, or the end of the file,
// end the list.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_SERIALIZED_STORE_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_SERIALIZED_STORE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sealprobe {

// Why bytes are not a serialized store.
enum class StoreFault {
  kNone,
  kNoHeader,             // they do not start with 0, "CERT"
  kHeaderCutShort,       // the element header at `offset` is cut short
  kTooManyElements,      // more than the elements allowed
  kEncodingType,         // the element at `offset` has encoding type
                         // `value`, not 1
  kPastTheEnd,           // the element at `offset` says it is `value`
                         // bytes long, past the end
  kCertificateTooLarge,  // the certificate at `offset` is larger than
                         // allowed
};

struct StoreError {
  StoreFault fault = StoreFault::kNone;
  uint64_t offset = 0;
  uint64_t value = 0;
};

// Where a certificate element's DER lies in the bytes read.
struct StoredCertificate {
  size_t offset = 0;
  size_t size = 0;
};

struct SerializedStore {
  // Each certificate element, in file order (not decoded here); none when
  // the store is refused.
  std::vector<StoredCertificate> certificates;
  StoreError error;
  bool ok() const { return error.fault == StoreFault::kNone; }
};

// The caps ReadSerializedStore applies by default.
inline constexpr size_t kMaxStoreElements = 200000;
inline constexpr size_t kMaxStoreCertificateBytes = size_t{1} << 20;

// Reads the store in the `size` bytes at `data`. Fails on a header other
// than Windows', an element whose length runs past the end, an element
// with an encoding type other than 1, more than `max_elements` elements,
// or a certificate larger than `max_certificate_bytes`. Never reads
// outside the bytes given; never throws.
SerializedStore ReadSerializedStore(
    const uint8_t* data, size_t size, size_t max_elements = kMaxStoreElements,
    size_t max_certificate_bytes = kMaxStoreCertificateBytes);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_SERIALIZED_STORE_H_

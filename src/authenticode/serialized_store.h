// Windows' serialized certificate store (.sst), as CertSaveStore writes it
// with CERT_STORE_SAVE_AS_STORE: an 8-byte header (a zero version, then
// "CERT"), then elements, each a 12-byte header of three little-endian
// 32-bit fields (property id, encoding type 1, length) and that many bytes.
// A certificate's properties come before it; the certificate itself is the
// element of property id 32. Twelve zero bytes, or the end of the file,
// end the list.
#ifndef SEALPROBE_AUTHENTICODE_SERIALIZED_STORE_H_
#define SEALPROBE_AUTHENTICODE_SERIALIZED_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sealprobe {

struct SerializedStore {
  bool ok = false;
  // The DER of each certificate element, in file order (not decoded here).
  std::vector<std::vector<uint8_t>> certificates;
  std::string error;  // why it is not a store, in words, when not ok
};

// Reads the store in the `size` bytes at `data`. Fails on a header other
// than Windows', an element whose length runs past the end, an element
// with an encoding type other than 1, more than `max_elements` elements,
// or a certificate larger than `max_certificate_bytes`. Never reads
// outside the bytes given; never throws.
SerializedStore ReadSerializedStore(const uint8_t* data, size_t size,
                                    size_t max_elements = 200000,
                                    size_t max_certificate_bytes = 1 << 20);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_SERIALIZED_STORE_H_

// A certificate is known by its bytes as they came: Windows hashes a
// certificate's encoding as given (its SHA-1 is over pbCertEncoded, which
// CertCreateCertificateContext keeps unchanged), while OpenSSL re-encodes
// what it decoded, so a certificate written with a longer length than DER
// allows would hash to another value and slip past a list that names it.
// Every digest that identifies a certificate goes through here.
#ifndef SEALPROBE_AUTHENTICODE_CERTIFICATE_BYTES_H_
#define SEALPROBE_AUTHENTICODE_CERTIFICATE_BYTES_H_

#include <openssl/x509.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {

using Sha1 = std::array<uint8_t, 20>;
using Sha256 = std::array<uint8_t, 32>;

// Records the `size` bytes at `der` as the encoding `cert` was decoded
// from, when OpenSSL's own encoding of it differs; false when it cannot.
bool KeepEncoding(X509* cert, const uint8_t* der, size_t size);

// The certificate whose DER is the `size` bytes at `der`, all of them, its
// encoding kept; null when they are not one.
ossl::X509Ptr DecodeCertificate(const uint8_t* der, size_t size);

// The bytes `cert` came in: those KeepEncoding recorded, else OpenSSL's
// encoding of it; empty when it has none.
std::vector<uint8_t> EncodingOf(X509* cert);

// The SHA-1 and SHA-256 of EncodingOf(cert).
Sha1 Sha1Of(X509* cert);
Sha256 Sha256Of(X509* cert);

// The SHA-1 and SHA-256 of the `size` bytes at `data`.
Sha1 Sha1OfBytes(const uint8_t* data, size_t size);
Sha256 Sha256OfBytes(const uint8_t* data, size_t size);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_CERTIFICATE_BYTES_H_

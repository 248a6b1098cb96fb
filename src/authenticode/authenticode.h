// Verifying the embedded Authenticode signature of a PE image with OpenSSL,
// with the status and last-error code WinVerifyTrust and GetLastError give
// for the same file under the generic code-signing action (no revocation,
// nothing fetched).
#ifndef SEALPROBE_AUTHENTICODE_AUTHENTICODE_H_
#define SEALPROBE_AUTHENTICODE_AUTHENTICODE_H_

#include <openssl/evp.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/byte_source.h"
#include "authenticode/explanation.h"
#include "authenticode/pe_image.h"
#include "authenticode/trust_anchors.h"

namespace sealprobe {

// What WinVerifyTrust returns for a file, and what GetLastError gives right
// after it: the codes of trust_status.h.
struct AuthenticodeResult {
  uint32_t status = 0;  // 0 when the signature is valid and trusted
  uint32_t last_error = 0;
};

// Verifies the signature of the image in `source` against the anchors,
// checking certificates as of `now` unless a timestamp says when the file
// was signed. Loads `anchors` only when a signature gets as far as
// its chain. Never throws; reads the source front to back with memory that
// does not grow with its size. The first of these that applies:
//   CRYPT_E_FILE_ERROR            the source failed to read
//   TRUST_E_SUBJECT_FORM_UNKNOWN  not a PE image
//   TRUST_E_NOSIGNATURE           no certificate table, or a malformed one;
//                                 last error TRUST_E_NOSIGNATURE, or
//                                 ERROR_NOT_ENOUGH_MEMORY when its first
//                                 entry is larger than kMaxSignatureSize
//   TRUST_E_NOSIGNATURE           with last error CRYPT_E_ASN1_BADTAG: the
//                                 entry is over a cap of der_limits.h
//                                 (checked before anything decodes it), or
//                                 is not an Authenticode SignedData with
//                                 one signer, or its content is not the
//                                 shape its version gives (version 1: the
//                                 SpcIndirectDataContent itself; version 3:
//                                 wrapped in an OCTET STRING)
//   NTE_BAD_ALGID                 a digest other than SHA-1/256/384/512
//   TRUST_E_NO_SIGNER_CERT        the signer's certificate is not included:
//                                 none has its issuer, octet for octet, and
//                                 serial number
//   NTE_BAD_ALGID                 the signer's signature algorithm does not
//                                 fit its key, or ClassifyKey
//                                 (key_policy.h) does not support it
//   TRUST_E_BAD_DIGEST            the signer's signature or the image hash
//                                 does not match
//   TRUST_E_TIME_STAMP            a timestamp is there but fails its own
//                                 checks (CheckTimestamp, timestamp.h)
//   TRUST_E_SYSTEM_ERROR          `anchors` is Windows' root program and its
//                                 folder does not load (load_error())
//   then the chain of the signer's certificate as CheckCertificateChain
//   reports it for code signing, as of the timestamp's time (now for a
//   lifetime-signing certificate or with no timestamp);
//   TRUST_E_TIME_STAMP            the signer's chain is sound, but the
//                                 authority of its timestamp is not
//                                 (TimestampAuthorityTrusted)
//   or 0 when valid.
// Except for the two TRUST_E_NOSIGNATURE rows, the last error is the status.
// With `explanation`, also writes down there what it found and what decided
// (explanation.h), at some cost; sealprobe itself asks for none. Several
// threads may verify at once with the same `anchors`: the result for a
// file is the same whatever is verified beside it or before it.
AuthenticodeResult VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors,
                                      std::time_t now,
                                      Explanation* explanation = nullptr);

// The same, as of the current time.
AuthenticodeResult VerifyAuthenticode(ByteSource& source,
                                      TrustAnchors& anchors);

// The file at `path`, as the POSIX trust service verifies it: one that does
// not open as a regular file (FileByteSource) is CRYPT_E_FILE_ERROR, as of
// the current time otherwise.
AuthenticodeResult VerifyAuthenticodeFile(const std::string& path,
                                          TrustAnchors& anchors,
                                          Explanation* explanation = nullptr);

// The Authenticode hash of `image` with `digest`: the bytes of
// ImageHashRanges(image), read in blocks. nullopt when a read fails.
std::optional<std::vector<uint8_t>> HashImage(ByteSource& source,
                                              const PeImage& image,
                                              const EVP_MD* digest);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_AUTHENTICODE_H_

// Verifying the embedded Authenticode signature of a PE image or a Windows
// Installer package with OpenSSL, with the status and last-error code
// WinVerifyTrust and GetLastError give for the same file under the generic
// code-signing action (no revocation, nothing fetched).
#ifndef SEALPROBE_AUTHENTICODE_AUTHENTICODE_H_
#define SEALPROBE_AUTHENTICODE_AUTHENTICODE_H_

#include <ctime>
#include <string>
#include <vector>

#include "authenticode/byte_source.h"
#include "authenticode/trust_anchors.h"
#include "authenticode/verification.h"

namespace sealprobe {

// Verifies the signature of the file in `source` against the anchors,
// checking certificates as of `now` unless a timestamp says when the file
// was signed. The file is a PE image (it starts with MZ) or a Windows
// Installer package or patch (msi_package.h), told by its content. Loads
// `anchors` only when a signature gets as far as its chain. Never throws;
// reads the source with memory that does not grow with its size. The first
// of these that applies:
//   CRYPT_E_FILE_ERROR            the source failed to read
//   TRUST_E_SUBJECT_FORM_UNKNOWN  neither a PE image nor a compound file; a
//                                 compound file that is no installer, or
//                                 that CompoundFile::Read refuses
//   TRUST_E_NOSIGNATURE           no certificate table, or a malformed one,
//                                 or no installer's signature stream; last
//                                 error TRUST_E_NOSIGNATURE, or
//                                 ERROR_NOT_ENOUGH_MEMORY when the
//                                 signature is larger than kMaxSignatureSize
//   TRUST_E_NOSIGNATURE           with last error CRYPT_E_ASN1_BADTAG: the
//                                 entry is not an Authenticode signature
//                                 as DecodeSignature (signature.h) reads
//                                 one, over a cap of der_limits.h included;
//                                 an installer's that does not sign its SIP
//                                 information or that bytes follow
//   NTE_BAD_ALGID                 a digest other than SHA-1/256/384/512
//   TRUST_E_NO_SIGNER_CERT        the signer's certificate is not included:
//                                 none has its issuer, octet for octet, and
//                                 serial number
//   NTE_BAD_ALGID                 the signer's signature algorithm does not
//                                 fit its key, or ClassifyKey
//                                 (key_policy.h) does not support it
//   TRUST_E_BAD_DIGEST            the signer's signature, an installer's
//                                 pre-hash of its metadata, or the image
//                                 hash (an installer's digest) does not
//                                 match
//   TRUST_E_TIME_STAMP            a timestamp is there but fails its own
//                                 checks (CheckTimestamp, timestamp.h)
//   TRUST_E_SYSTEM_ERROR          `anchors` is Windows' root program and its
//                                 folder does not load (load_error())
//   then the chain of the signer's certificate as CheckCertificateChain
//   reports it for code signing, as of the timestamp's time (now for a
//   lifetime-signing certificate or with no timestamp);
//   TRUST_E_TIME_STAMP            the signer's chain is sound, but the
//                                 authority of its timestamp is not
//                                 (CheckTimestampAuthority)
//   or 0 when valid.
// Except for the two TRUST_E_NOSIGNATURE rows, the last error is the status.
// Besides the result, the Verification names the Rule that decided and
// keeps what each step found (verification.h): what the steps build
// anyway, kept rather than freed, and no words. Several threads may verify
// at once with the same `anchors`: the result for a file is the same
// whatever is verified beside it or before it.
Verification VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors,
                                std::time_t now);

// The same, as of the current time.
Verification VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors);

// The file at `path`, as the POSIX trust service verifies it: one that does
// not open as a regular file (FileByteSource) is CRYPT_E_FILE_ERROR
// (Rule::kNotOpened), as of the current time otherwise.
Verification VerifyAuthenticodeFile(const std::string& path,
                                    TrustAnchors& anchors);

// Every signature of the file in `source`, the primary first: [0] is what
// VerifyAuthenticode gives. Then, unless it is of no kind verified or a read
// failed, each signature nested in the primary's signer's unauthenticated
// attributes when the primary decoded (NestedSignatures, signature.h: the
// first kMaxNestedSignatures, in order of attribute then value), then those
// of the certificate table's later entries (ReadLaterSignatureEntries,
// pe_image.h) of a PE image. Each is judged alone by the primary's rules,
// from its decoding on (over a cap or not decoding: kMalformedSignature),
// over the same bytes and as of the same `now`; an entry over
// kMaxSignatureSize is kSignatureTooLarge, one that fails to read
// kUnreadable. Windows decides the file by the primary; the others never
// change [0]. The file is hashed once per digest. Several threads may
// call this at once with the same `anchors`.
std::vector<Verification> VerifyEverySignature(ByteSource& source,
                                               TrustAnchors& anchors,
                                               std::time_t now);

// Every signature of the file at `path`, the primary first: [0] is what
// VerifyAuthenticodeFile gives. Then, when the primary decoded, each
// signature nested in its signer's unauthenticated attributes
// (1.3.6.1.4.1.311.2.4.1), in order, then those of the certificate
// table's later entries: each judged alone by the primary's rules over
// the same image, as of `now`. Windows decides the file by the primary;
// the others never change [0].
std::vector<Verification> VerifyEverySignatureFile(
    const std::string& path, TrustAnchors& anchors,
    std::time_t now = std::time(nullptr));

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_AUTHENTICODE_H_

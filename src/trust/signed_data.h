// Checks shared by the Authenticode signature and its timestamps: both are
// PKCS#7 signers over some content, found and verified the same way.
#ifndef SEALPROBE_TRUST_SIGNED_DATA_H_
#define SEALPROBE_TRUST_SIGNED_DATA_H_

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

namespace sealprobe {

// Bytes owned by someone else (an OpenSSL object, a buffer).
struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The octets a SignedData's messageDigest is computed over: for content
// encoded as a SEQUENCE, what lies inside it (its tag and length left out);
// for content wrapped in an OCTET STRING, the string's value. nullopt for
// other types and for indefinite lengths.
std::optional<ByteView> ContentOctets(const ASN1_TYPE* content);

// The full DER of the content itself: the SEQUENCE with its tag and length,
// or what the OCTET STRING wraps. nullopt where ContentOctets has none.
std::optional<ByteView> ContentEncoding(const ASN1_TYPE* content);

// SHA-1, SHA-256, SHA-384 or SHA-512 as named by `algorithm`; null for any
// other algorithm.
const EVP_MD* SupportedDigest(const X509_ALGOR* algorithm);

// Whether `algorithm`, a signer's digestEncryptionAlgorithm, names a
// signature `cert`'s key can make: the key's own algorithm (rsaEncryption,
// id-ecPublicKey) or a signature algorithm over it (sha256WithRSAEncryption,
// ecdsa-with-SHA256, ...).
bool SignatureAlgorithmFitsKey(const X509_ALGOR* algorithm, X509* cert);

// The certificate in `certs` that `signer` names by issuer and serial
// number: the issuer as encoded, octet for octet (another letter case or
// string type is another name), the serial number as an integer. Null when
// there is none. Not owned: it lives in `certs`.
X509* FindSignerCertificate(const STACK_OF(X509) * certs,
                            const PKCS7_SIGNER_INFO* signer);

// Whether `signer`, whose certificate is `cert`, signed `content` with
// `digest`. With authenticated attributes: their messageDigest must be the
// digest of `content` and the signature must cover their DER encoding as a
// SET OF. Without them the signature covers `content` directly.
bool VerifySigner(PKCS7_SIGNER_INFO* signer, X509* cert, const EVP_MD* digest,
                  ByteView content);

// The `digest` of `data`; nullopt when OpenSSL fails to compute it.
std::optional<std::vector<uint8_t>> DigestOf(const EVP_MD* digest,
                                             ByteView data);

// Whether `carried`, a digest as a signature carries it (null when there is
// none), is `computed`, octet for octet.
bool DigestMatches(const ASN1_OCTET_STRING* carried,
                   const std::vector<uint8_t>& computed);

// Seconds since the Unix epoch for an ASN.1 UTCTime or GeneralizedTime;
// nullopt when it is not a valid time.
std::optional<std::time_t> ToUnixTime(const ASN1_TIME* time);

}  // namespace sealprobe

#endif  // SEALPROBE_TRUST_SIGNED_DATA_H_

// Checks shared by the Authenticode signature and its timestamps: both are
// PKCS#7 signers over some content, found and verified the same way.
#ifndef SEALPROBE_AUTHENTICODE_SIGNED_DATA_H_
#define SEALPROBE_AUTHENTICODE_SIGNED_DATA_H_

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {

// Bytes owned by someone else (an OpenSSL object, a buffer).
struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Decodes the PKCS#7 ContentInfo that `der` begins with (anything after it
// is left unread) as d2i_PKCS7 does, except that a SignedData's
// certificates are read as CMS reads them (RFC 5652's CertificateChoices):
// members that are not X.509 certificates (extended certificates [0],
// attribute certificates [1] and [2], other formats [3]) are left out, so
// the decoded set holds certificates only and nothing else can enter a
// chain. No signature covers that set, so leaving members out changes no
// digest. Members with any other tag stay, for d2i_PKCS7 to refuse; so do
// all of them unless every element from the ContentInfo down to the set
// has a definite length. When members are left out, those four elements
// get the lengths that fit, in DER's shortest form whatever form they came
// in. `der` is consumed: the members are left out in place, so a large
// signature is never copied. Null when decoding fails.
ossl::Pkcs7Ptr DecodeSignedData(std::vector<uint8_t> der);

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

// How a PKCS#7 signer fares, checked the way Windows checks the
// signature's signer, an RFC 3161 token's and a counter-signer alike.
struct SignerCheck {
  enum class Outcome {
    kVerified,
    kUnsupportedAlgorithm,  // its digest is not SupportedDigest's, or its
                            // certificate's key cannot verify it
                            // (KeyVerifiesSigner, key_policy.h)
    kNoCertificate,         // no certificate has its issuer and serial
    kBadSignature,          // its signature over the content does not verify
  };
  Outcome outcome = Outcome::kNoCertificate;
  // The signer's certificate, once found: not owned, it lives in the set it
  // was found in.
  X509* certificate = nullptr;
  const EVP_MD* digest = nullptr;  // its digest, when supported
};

// Checks `signer` over `content`, in this order: its digest; its
// certificate, looked for in `certs` and then, when not there and not null,
// in `more_certs`, by issuer as encoded, octet for octet (another letter
// case or string type is another name), and serial number as an integer;
// its certificate's key; its signature. With authenticated attributes,
// their messageDigest must be the digest of `content` and the signature
// must cover their DER encoding as a SET OF; without them the signature
// covers `content` directly.
SignerCheck CheckSigner(PKCS7_SIGNER_INFO* signer, const STACK_OF(X509) * certs,
                        const STACK_OF(X509) * more_certs, ByteView content);

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

#endif  // SEALPROBE_AUTHENTICODE_SIGNED_DATA_H_

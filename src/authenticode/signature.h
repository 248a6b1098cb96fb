// The Authenticode signature itself: the SignedData a PE image's
// certificate table starts with, decoded and checked for the shape
// Authenticode gives it, before anything of it is verified.
#ifndef SEALPROBE_AUTHENTICODE_SIGNATURE_H_
#define SEALPROBE_AUTHENTICODE_SIGNATURE_H_

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "authenticode/der_limits.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/signed_data.h"

namespace sealprobe {

// SpcIndirectDataContent ::= SEQUENCE {
//   data           SpcAttributeTypeAndOptionalValue,
//   messageDigest  DigestInfo }
// (its ASN.1 template is signature.cpp's).
struct SpcIndirectDataContent;
struct SpcIndirectDataContentDeleter {
  void operator()(SpcIndirectDataContent* p) const noexcept;
};
using SpcIndirectDataContentPtr =
    std::unique_ptr<SpcIndirectDataContent, SpcIndirectDataContentDeleter>;

// Why the bytes are not an Authenticode signature.
enum class SignatureFault {
  kNone,
  kOverCap,               // over `cap` of der_limits.h, checked before decoding
  kNotSignedData,         // not a PKCS#7 SignedData with content
  kNotIndirectData,       // its content type is not SpcIndirectDataContent
  kContentShape,          // its content is not the shape its version gives
  kNotOneSigner,          // it has no signer, or more than one
  kContentTypeNotSigned,  // its signer's authenticated attributes do not
                          // name the content type
  kIndirectDataMalformed,  // the content does not decode
  // Set by the verification for the kind of file that holds it:
  kBytesAfterSignature,  // bytes follow it where nothing may (an installer's
                         // signature stream)
  kNotForThisFormat,     // its content names another kind of file
};

// The signature, decoded as far as it goes.
struct Signature {
  SignatureFault fault = SignatureFault::kNone;
  SignatureLimitCheck cap = SignatureLimitCheck::kWithinLimits;
  ossl::Pkcs7Ptr pkcs7;
  PKCS7_SIGNER_INFO* signer = nullptr;  // its one signer, in pkcs7
  ByteView signed_content;              // the octets messageDigest covers
  SpcIndirectDataContentPtr indirect;
  // The size of the ContentInfo in what was given to DecodeSignature, its
  // header included (0 when that does not parse): what follows is not its.
  size_t encoded_size = 0;

  // Once decoded: the certificates it carries, and the algorithm and
  // digest of the image hash it signs.
  STACK_OF(X509) * certificates() const;
  const X509_ALGOR* image_digest_algorithm() const;
  const ASN1_OCTET_STRING* image_digest() const;
  // The type of what the content signs (its SpcAttributeTypeAndOptionalValue):
  // a PE image's, an installer's SIP information...
  const ASN1_OBJECT* subject_type() const;
};

// Decodes the signature in `der`, which it consumes: only the decoded copy
// is kept, so a large signature is not held twice while it is checked.
// Before anything decodes it, its DER is walked against the caps of
// der_limits.h. The content must be the shape the SignedData's version
// gives: version 1 (PKCS#7) the SpcIndirectDataContent itself, version 3
// (CMS) wrapped in an OCTET STRING; and the one signer's authenticated
// attributes must name that content type. `fault` says why not.
Signature DecodeSignature(std::vector<uint8_t> der);

// The most nested signatures NestedSignatures decodes.
inline constexpr size_t kMaxNestedSignatures = 16;

// The DER of each signature nested in `signature`'s signer's
// unauthenticated attributes (1.3.6.1.4.1.311.2.4.1, each value a
// ContentInfo), in order of attribute then value, for DecodeSignature: the
// first kMaxNestedSignatures of them, and when there are more, one empty
// value (which does not decode) for the rest. Nothing of them is checked
// here. None unless `signature` decoded.
std::vector<std::vector<uint8_t>> NestedSignatures(const Signature& signature);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_SIGNATURE_H_

// Bounds on the work a signature can ask of the decoder. OpenSSL builds an
// object for every element it decodes, copies strings, re-encodes and sorts
// attribute sets and decodes every certificate's key, all before a single
// check can fail; a signature crafted for it (a hundred thousand tiny
// certificates, millions of values in one attribute) costs seconds and
// hundreds of MiB. So the DER is walked first, without building anything,
// and a signature over any of these caps is refused as malformed.
//
// The walk reads untrusted bytes: every read is bounds-checked, lengths are
// checked against what encloses them, and it keeps its own stack, as deep
// as the depth cap and no deeper, instead of recursing.
#ifndef SEALPROBE_AUTHENTICODE_DER_LIMITS_H_
#define SEALPROBE_AUTHENTICODE_DER_LIMITS_H_

#include <cstddef>
#include <cstdint>

namespace sealprobe {

// The caps, each far above what real signatures use (the figures in
// brackets: the largest real ones carry about a dozen certificates, a
// timestamp token or counter-signature, and sometimes nested signatures).
struct SignatureLimits {
  // Elements open inside one another, counting the DER held in OCTET and
  // BIT STRINGs (extension values, keys, a token's TSTInfo) [26 for a
  // signature with an RFC 3161 token; a nested signature with its own
  // token adds 8].
  size_t depth = 64;
  // Elements in the whole signature, the DER in strings included [about
  // 150 per certificate; under 1,000 for a signature with a token].
  size_t elements = 100000;
  // Per SignedData: the signature, a timestamp token, any other SignedData
  // inside it [a dozen certificates of 1 to 2 KiB; CRLs rarely]. Every
  // member of the certificate set counts, whatever its choice: the
  // attribute certificates the decoder skips are walked and counted too
  // [one beside two certificates in Microsoft's tokens].
  size_t certificates = 64;
  size_t certificate_bytes = size_t{1} << 20;
  size_t crls = 32;
  size_t crl_bytes = size_t{1} << 20;
  // Members of each SET of a SignedData: digest algorithms, signer infos
  // [one each].
  size_t set_members = 8;
  // Per SignerInfo: the signer, a token's signer, a counter-signer.
  // Attributes in each of its two sets [3 to 6 authenticated, 0 to 3
  // unauthenticated], values of one attribute [one; a few nested
  // signatures], and the size of the authenticated set, which is
  // re-encoded and sorted to check the signature [under 2 KiB].
  size_t attributes = 64;
  size_t values = 64;
  size_t authenticated_attribute_bytes = size_t{1} << 20;
  // Each value of an RFC 3161 timestamp or counter-signature attribute,
  // which the timestamp check decodes again [2 to 10 KiB].
  size_t timestamp_bytes = size_t{1} << 20;
  // Per certificate, what chain building multiplies. RFC 5280 policy
  // processing goes through the policies of each certificate for every one
  // of the certificate above it: PolicyInformation entries of a
  // certificatePolicies [one to a handful; 17 in a federal bridge
  // certificate], pairs of a policyMappings [10 there]. The names a
  // certificate is matched by are bounded by what matching them costs
  // (NameConstraintWork, name_constraints.h), and these only by what
  // decoding them costs: GeneralSubtrees in each of a nameConstraints'
  // permitted and excluded lists [a few; LibreSSL's verifier takes 512 in a
  // whole chain], GeneralNames of a subjectAltName (2.5.29.17, or the legacy
  // 2.5.29.7) [up to 1,275 in TLS certificates seen on the web, 2,000 the
  // most one public CA issues], and relative names in its issuer or subject
  // [6 at most among Debian's roots and Microsoft's signers].
  size_t policies = 64;
  size_t policy_mappings = 64;
  size_t name_subtrees = 1024;
  size_t alt_names = 4096;
  size_t name_entries = 256;
};

// What CheckSignatureLimits found: kWithinLimits, or the first cap the walk
// ran over. kConstructedStringInCertificate is a certificate or CRL with a
// string in BER's constructed form, which DER (and X.509) forbid and which
// would let an extension hide its elements from the walk.
enum class SignatureLimitCheck {
  kWithinLimits,
  kTooDeep,
  kTooManyElements,
  kTooManyCertificates,
  kCertificatesTooLarge,
  kTooManyCrls,
  kCrlsTooLarge,
  kTooManySetMembers,
  kTooManyAttributes,
  kTooManyValues,
  kAuthenticatedAttributesTooLarge,
  kTimestampTooLarge,
  kConstructedStringInCertificate,
  kTooManyPolicies,
  kTooManyPolicyMappings,
  kTooManyNameSubtrees,
  kTooManyAltNames,
  kTooManyNameEntries,
};

// Walks the first element of the `size` bytes at `der` (a PKCS#7
// ContentInfo; anything after it is padding) and every element inside it,
// the DER that OCTET and BIT STRINGs begin with included. Caps apply
// wherever their structure appears: every SignedData (recognised by its
// ContentInfo), every SignerInfo in one or in a counter-signature
// attribute, every certificate in one, and every extension (a SEQUENCE
// whose first element is the extension's object identifier) wherever it is.
// The values of a nested-signature attribute (1.3.6.1.4.1.311.2.4.1) are
// the exception: decoding the signature does not decode them (OpenSSL
// keeps an attribute value as its encoding), so each counts as one element
// and nothing inside it is walked. A nested signature that is judged
// (VerifyEverySignature) is a signature of its own, walked on its own.
// Definite and indefinite lengths are both followed. Bytes that are not
// well-formed DER are not an error here: their elements are counted up to the
// fault and the decoder, which fails at the same place, refuses them. Never
// reads outside [der, der + size).
SignatureLimitCheck CheckSignatureLimits(const uint8_t* der, size_t size,
                                         const SignatureLimits& limits = {});

// The size of the element the `size` bytes at `der` begin with, its header
// and (for an indefinite length) end-of-contents octets included; 0 when
// its header is malformed or it does not end within them.
size_t EncodedSize(const uint8_t* der, size_t size);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_DER_LIMITS_H_

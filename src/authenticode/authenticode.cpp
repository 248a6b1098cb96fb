#include "authenticode/authenticode.h"

#include <openssl/asn1t.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <utility>

#include "authenticode/cert_chain.h"
#include "authenticode/der_limits.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/signed_data.h"
#include "authenticode/timestamp.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";

// SpcIndirectDataContent ::= SEQUENCE {
//   data           SpcAttributeTypeAndOptionalValue,
//   messageDigest  DigestInfo }
// SpcAttributeTypeAndOptionalValue ::= SEQUENCE {
//   type   OBJECT IDENTIFIER,
//   value  ANY DEFINED BY type OPTIONAL }
// DigestInfo has X509_SIG's shape. What `data` names (a PE image, with or
// without page hashes) does not change what is compared: the digest is
// always the image hash.
struct SpcAttributeTypeAndOptionalValue {
  ASN1_OBJECT* type;
  ASN1_TYPE* value;
};

struct SpcIndirectDataContent {
  SpcAttributeTypeAndOptionalValue* data;
  X509_SIG* message_digest;
};

// clang-format off
ASN1_SEQUENCE(SpcAttributeTypeAndOptionalValue) = {
  ASN1_SIMPLE(SpcAttributeTypeAndOptionalValue, type, ASN1_OBJECT),
  ASN1_OPT(SpcAttributeTypeAndOptionalValue, value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeTypeAndOptionalValue);

ASN1_SEQUENCE(SpcIndirectDataContent) = {
  ASN1_SIMPLE(SpcIndirectDataContent, data, SpcAttributeTypeAndOptionalValue),
  ASN1_SIMPLE(SpcIndirectDataContent, message_digest, X509_SIG),
} ASN1_SEQUENCE_END(SpcIndirectDataContent);
// clang-format on

struct SpcIndirectDataContentDeleter {
  void operator()(SpcIndirectDataContent* p) const noexcept {
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(p),
                   ASN1_ITEM_rptr(SpcIndirectDataContent));
  }
};
using SpcIndirectDataContentPtr =
    std::unique_ptr<SpcIndirectDataContent, SpcIndirectDataContentDeleter>;

// Leaves OpenSSL's per-thread error queue empty however verification ends,
// so that one file's failures never show up in the next file's checks.
class ErrorQueueGuard {
 public:
  ErrorQueueGuard() = default;
  ErrorQueueGuard(const ErrorQueueGuard&) = delete;
  ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
  ~ErrorQueueGuard() { ERR_clear_error(); }
};

// The result for `status`, which WinVerifyTrust also leaves as the thread's
// last error (0 when the file is valid).
AuthenticodeResult ResultOf(uint32_t status) { return {status, status}; }

constexpr AuthenticodeResult kNotAuthenticode{status::kTrustNoSignature,
                                              status::kCryptAsn1BadTag};

// A step of the verification: the result that ends it, or nullopt to go on.
using Step = std::optional<AuthenticodeResult>;

// The decoded signature: a SignedData with one signer over an
// SpcIndirectDataContent.
struct Signature {
  ossl::Pkcs7Ptr pkcs7;
  PKCS7_SIGNER_INFO* signer = nullptr;  // lives in pkcs7
  ByteView signed_content;              // the octets messageDigest covers
  SpcIndirectDataContentPtr indirect;
};

// The shape of the content a SignedData of `version` carries. PKCS#7 (version
// 1) puts a content type other than data in [0] as it is: the
// SpcIndirectDataContent SEQUENCE itself. CMS (version 3 for such content)
// wraps it in an OCTET STRING. Windows' message layer reads each version its
// way, so the other shape fails to decode as SpcIndirectDataContent;
// versions other than these two are not Authenticode.
bool ContentShapeFits(long version, const ASN1_TYPE* content) {
  switch (version) {
    case 1:
      return content->type == V_ASN1_SEQUENCE;
    case 3:
      return content->type == V_ASN1_OCTET_STRING;
    default:
      return false;
  }
}

// Decodes the signature in `der`, which it consumes: only the decoded copy
// is kept, so a large signature is not held twice while it is checked.
std::optional<Signature> DecodeSignature(std::vector<uint8_t> der) {
  // The decoder builds everything it reads before any check can fail:
  // refuse what would make that costly before it starts.
  if (CheckSignatureLimits(der.data(), der.size()) !=
      SignatureLimitCheck::kWithinLimits) {
    return std::nullopt;
  }
  Signature signature;
  // Anything after the SignedData (alignment padding) is left unread.
  const unsigned char* p = der.data();
  signature.pkcs7.reset(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  PKCS7* pkcs7 = signature.pkcs7.get();
  if (pkcs7 == nullptr || !PKCS7_type_is_signed(pkcs7) ||
      pkcs7->d.sign == nullptr || pkcs7->d.sign->contents == nullptr) {
    return std::nullopt;
  }
  const ossl::Asn1ObjectPtr indirect_oid(OBJ_txt2obj(kSpcIndirectDataOid, 1));
  const PKCS7* content = pkcs7->d.sign->contents;
  if (!indirect_oid || content->type == nullptr ||
      OBJ_cmp(content->type, indirect_oid.get()) != 0 ||
      content->d.other == nullptr ||
      !ContentShapeFits(ASN1_INTEGER_get(pkcs7->d.sign->version),
                        content->d.other)) {
    return std::nullopt;
  }
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7);
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) return std::nullopt;
  signature.signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  // An Authenticode signer signs its attributes, and they name the content
  // it signs: without them the signature could stand for other content.
  const ASN1_TYPE* content_type =
      PKCS7_get_signed_attribute(signature.signer, NID_pkcs9_contentType);
  if (content_type == nullptr || content_type->type != V_ASN1_OBJECT ||
      OBJ_cmp(content_type->value.object, indirect_oid.get()) != 0) {
    return std::nullopt;
  }

  const std::optional<ByteView> octets = ContentOctets(content->d.other);
  const std::optional<ByteView> encoding = ContentEncoding(content->d.other);
  if (!octets || !encoding) return std::nullopt;
  signature.signed_content = *octets;
  const unsigned char* q = encoding->data;
  signature.indirect.reset(reinterpret_cast<SpcIndirectDataContent*>(
      ASN1_item_d2i(nullptr, &q, static_cast<long>(encoding->size),
                    ASN1_ITEM_rptr(SpcIndirectDataContent))));
  if (!signature.indirect) return std::nullopt;
  return signature;
}

// The image's layout and its signature's bytes, in `image` and `der`.
Step ReadSignature(ByteSource& source, PeImage* image,
                   std::vector<uint8_t>* der) {
  const PeParseResult pe = ParsePeImage(source);
  switch (pe.status) {
    case PeStatus::kOk:
      break;
    case PeStatus::kNotPe:
      return ResultOf(status::kTrustSubjectFormUnknown);
    case PeStatus::kReadError:
      return ResultOf(status::kCryptFileError);
  }
  *image = pe.image;
  SignatureEntry entry = ReadSignatureEntry(source, pe.image);
  switch (entry.status) {
    case SignatureStatus::kOk:
      *der = std::move(entry.pkcs7);
      return std::nullopt;
    case SignatureStatus::kNoSignature:
      return ResultOf(status::kTrustNoSignature);
    case SignatureStatus::kTooLarge:
      return AuthenticodeResult{status::kTrustNoSignature,
                                status::kErrorNotEnoughMemory};
    case SignatureStatus::kReadError:
      return ResultOf(status::kCryptFileError);
  }
  return ResultOf(status::kCryptFileError);
}

// The signer's signature over the content, then the image hash the content
// carries: the signer's part is cheap and settled first, then the one pass
// over the whole file. The signer's certificate goes to `signer_cert`.
Step CheckSignatureAndImage(const Signature& signature, ByteSource& source,
                            const PeImage& image, X509** signer_cert) {
  const X509_ALGOR* image_algorithm = nullptr;
  const ASN1_OCTET_STRING* signed_hash = nullptr;
  X509_SIG_get0(signature.indirect->message_digest, &image_algorithm,
                &signed_hash);
  const EVP_MD* image_digest = SupportedDigest(image_algorithm);
  if (image_digest == nullptr) return ResultOf(status::kNteBadAlgId);

  const SignerCheck signer =
      CheckSigner(signature.signer, signature.pkcs7->d.sign->cert, nullptr,
                  signature.signed_content);
  switch (signer.outcome) {
    case SignerCheck::Outcome::kVerified:
      break;
    case SignerCheck::Outcome::kUnsupportedAlgorithm:
      return ResultOf(status::kNteBadAlgId);
    case SignerCheck::Outcome::kNoCertificate:
      return ResultOf(status::kTrustNoSignerCert);
    case SignerCheck::Outcome::kBadSignature:
      return ResultOf(status::kTrustBadDigest);
  }
  *signer_cert = signer.certificate;

  const std::optional<std::vector<uint8_t>> hash =
      HashImage(source, image, image_digest);
  if (!hash) return ResultOf(status::kCryptFileError);
  if (!DigestMatches(signed_hash, *hash)) {
    return ResultOf(status::kTrustBadDigest);
  }
  return std::nullopt;
}

// The timestamp and the chains, in the order Windows' Authenticode provider
// takes them: the stamp's own checks with the signature, then the signer's
// chain, then (only when that is sound) the stamp's authority's.
AuthenticodeResult CheckTrust(const Signature& signature, X509* signer_cert,
                              TrustAnchors& anchors, std::time_t now) {
  STACK_OF(X509)* certs = signature.pkcs7->d.sign->cert;
  const Timestamp stamp = CheckTimestamp(signature.signer, certs);
  if (stamp.status == Timestamp::Status::kInvalid) {
    return ResultOf(status::kTrustTimeStamp);
  }
  // A lifetime-signing certificate is judged now; any other as of its
  // timestamp when there is one. A stamp outside the certificate's
  // validity leaves it expired.
  std::time_t when = now;
  if (stamp.status == Timestamp::Status::kValid &&
      !ReadExtendedKeyUsage(signer_cert).lifetime_signing) {
    when = stamp.time;
  }
  X509_STORE* store = anchors.Get();
  const uint32_t chain = CheckCertificateChain(signer_cert, certs, store, when,
                                               ChainUse::kCodeSigning);
  if (chain != status::kSuccess) return ResultOf(chain);
  if (stamp.status == Timestamp::Status::kValid &&
      !TimestampAuthorityTrusted(stamp, certs, store)) {
    return ResultOf(status::kTrustTimeStamp);
  }
  return ResultOf(status::kSuccess);
}

}  // namespace

std::optional<std::vector<uint8_t>> HashImage(ByteSource& source,
                                              const PeImage& image,
                                              const EVP_MD* digest) {
  const ossl::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), digest, nullptr) != 1) {
    return std::nullopt;
  }
  EVP_MD_CTX* md = ctx.get();
  const ChunkSink update = [md](const uint8_t* data, size_t size) {
    return EVP_DigestUpdate(md, data, size) == 1;
  };
  for (const ByteRange& range : ImageHashRanges(image)) {
    if (!source.Stream(range.offset, range.size, update)) return std::nullopt;
  }
  std::vector<uint8_t> hash(EVP_MAX_MD_SIZE);
  unsigned size = 0;
  if (EVP_DigestFinal_ex(md, hash.data(), &size) != 1) return std::nullopt;
  hash.resize(size);
  return hash;
}

AuthenticodeResult VerifyAuthenticode(ByteSource& source,
                                      TrustAnchors& anchors, std::time_t now) {
  const ErrorQueueGuard clear_errors;
  PeImage image;
  std::vector<uint8_t> der;
  if (const Step read = ReadSignature(source, &image, &der)) return *read;
  const std::optional<Signature> signature = DecodeSignature(std::move(der));
  if (!signature) return kNotAuthenticode;
  X509* signer_cert = nullptr;
  if (const Step checked =
          CheckSignatureAndImage(*signature, source, image, &signer_cert)) {
    return *checked;
  }
  return CheckTrust(*signature, signer_cert, anchors, now);
}

AuthenticodeResult VerifyAuthenticode(ByteSource& source,
                                      TrustAnchors& anchors) {
  return VerifyAuthenticode(source, anchors, std::time(nullptr));
}

}  // namespace sealprobe

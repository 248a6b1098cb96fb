#include "authenticode/authenticode.h"

#include <openssl/asn1t.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <utility>

#include "authenticode/cert_chain.h"
#include "authenticode/der_limits.h"
#include "authenticode/explanation.h"
#include "authenticode/file_byte_source.h"
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
  signature.pkcs7 = DecodeSignedData(std::move(der));
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

// Where the steps write down what they find and what decides: the
// Explanation a caller asked for, or nowhere.
class Notes {
 public:
  explicit Notes(Explanation* explanation) : explanation_(explanation) {}

  // Null when no explanation was asked for: facts are gathered only then.
  Explanation* get() const { return explanation_; }

  // `result`, decided by `rule`, found on the certificate `on` (none when
  // null).
  AuthenticodeResult Decide(AuthenticodeResult result, std::string rule,
                            X509* on = nullptr) const {
    if (explanation_ != nullptr) {
      explanation_->decided_by = std::move(rule);
      explanation_->decided_on =
          on != nullptr ? DescribeCertificate(on).subject : std::string();
    }
    return result;
  }

 private:
  Explanation* explanation_;
};

std::string AlgorithmName(const X509_ALGOR* algorithm) {
  const ASN1_OBJECT* oid = nullptr;
  if (algorithm != nullptr) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  const char* name = OBJ_nid2ln(OBJ_obj2nid(oid));
  return name != nullptr ? name : "an unknown algorithm";
}

// The chain `result` for an explanation: every certificate with every
// problem found on it, and the anchor it ended in (trusted through
// `program` when there is one).
ChainFacts DescribeChain(const ChainResult& result,
                         const WindowsRoots* program) {
  ChainFacts facts;
  facts.checked = true;
  for (int i = 0; i < sk_X509_num(result.chain.get()); ++i) {
    facts.certificates.push_back(
        DescribeCertificate(sk_X509_value(result.chain.get(), i)));
  }
  for (const ChainProblem& problem : result.problems) {
    const bool on_one =
        problem.depth >= 0 &&
        problem.depth < static_cast<int>(facts.certificates.size());
    (on_one ? facts.certificates[problem.depth].problems : facts.problems)
        .push_back(problem.detail);
  }
  if (result.anchor_depth >= 0 &&
      result.anchor_depth < static_cast<int>(facts.certificates.size())) {
    X509* anchor = sk_X509_value(result.chain.get(), result.anchor_depth);
    facts.anchor = facts.certificates[result.anchor_depth].subject;
    facts.anchor_source =
        program != nullptr ? program->AnchorSource(anchor) : "in the store";
  }
  return facts;
}

// The certificate at `depth` of `result`'s chain; null for the chain as a
// whole.
X509* CertificateAt(const ChainResult& result, int depth) {
  if (depth < 0 || depth >= sk_X509_num(result.chain.get())) return nullptr;
  return sk_X509_value(result.chain.get(), depth);
}

// `result`, decided by the deciding problem of a chain, named by `which`.
AuthenticodeResult DecideByChain(AuthenticodeResult result,
                                 const std::string& which,
                                 const ChainResult& chain, const Notes& notes) {
  const ChainProblem& deciding = *chain.deciding();
  if (Explanation* e = notes.get()) {
    e->decided_property = deciding.property;
    e->decided_property_date = deciding.property_date;
  }
  return notes.Decide(result, which + deciding.detail,
                      CertificateAt(chain, deciding.depth));
}

// What a stamp says of itself, for an explanation.
void NoteTimestamp(const Timestamp& stamp, Explanation::Timestamp* facts) {
  if (stamp.status == Timestamp::Status::kAbsent) return;
  facts->kind = stamp.kind == Timestamp::Kind::kRfc3161
                    ? Explanation::Timestamp::Kind::kRfc3161
                    : Explanation::Timestamp::Kind::kLegacy;
  const bool valid = stamp.status == Timestamp::Status::kValid;
  if (valid) facts->time = stamp.time;
  if (stamp.authority != nullptr) {
    facts->authority = DescribeCertificate(stamp.authority);
  }
  facts->status = valid ? std::string("its own checks pass")
                        : std::string("invalid: ") + stamp.reason;
}

// The image's layout and its signature's bytes, in `image` and `der`.
Step ReadSignature(ByteSource& source, PeImage* image,
                   std::vector<uint8_t>* der, const Notes& notes) {
  const PeParseResult pe = ParsePeImage(source);
  switch (pe.status) {
    case PeStatus::kOk:
      break;
    case PeStatus::kNotPe:
      return notes.Decide(ResultOf(status::kTrustSubjectFormUnknown),
                          "it is not a PE image");
    case PeStatus::kReadError:
      return notes.Decide(ResultOf(status::kCryptFileError),
                          "it could not be read");
  }
  *image = pe.image;
  if (Explanation* e = notes.get()) {
    e->image.parsed = true;
    e->image.pe32_plus = pe.image.pe32_plus;
    e->image.machine = pe.image.machine;
    e->image.has_table = pe.image.cert_table_size != 0;
    e->image.table_offset = pe.image.cert_table_offset;
    e->image.table_size = pe.image.cert_table_size;
  }
  SignatureEntry entry = ReadSignatureEntry(source, pe.image);
  switch (entry.status) {
    case SignatureStatus::kOk:
      *der = std::move(entry.pkcs7);
      return std::nullopt;
    case SignatureStatus::kNoSignature:
      return notes.Decide(ResultOf(status::kTrustNoSignature),
                          "it has no certificate table that holds a "
                          "signature and ends the file");
    case SignatureStatus::kTooLarge:
      return notes.Decide(AuthenticodeResult{status::kTrustNoSignature,
                                             status::kErrorNotEnoughMemory},
                          "its signature is larger than 16 MiB");
    case SignatureStatus::kReadError:
      return notes.Decide(ResultOf(status::kCryptFileError),
                          "it could not be read");
  }
  return ResultOf(status::kCryptFileError);
}

// The signer's signature over the content, then the image hash the content
// carries: the signer's part is cheap and settled first, then the one pass
// over the whole file. The signer's certificate goes to `signer_cert`.
Step CheckSignatureAndImage(const Signature& signature, ByteSource& source,
                            const PeImage& image, X509** signer_cert,
                            const Notes& notes) {
  const X509_ALGOR* image_algorithm = nullptr;
  const ASN1_OCTET_STRING* signed_hash = nullptr;
  X509_SIG_get0(signature.indirect->message_digest, &image_algorithm,
                &signed_hash);
  if (Explanation* e = notes.get()) {
    e->image.digest = AlgorithmName(image_algorithm);
    e->signer.digest_algorithm = AlgorithmName(signature.signer->digest_alg);
    e->signer.signature_algorithm =
        AlgorithmName(signature.signer->digest_enc_alg);
  }
  const EVP_MD* image_digest = SupportedDigest(image_algorithm);
  if (image_digest == nullptr) {
    return notes.Decide(ResultOf(status::kNteBadAlgId),
                        "the image hash is not SHA-1, SHA-256, SHA-384 or "
                        "SHA-512");
  }

  const SignerCheck signer =
      CheckSigner(signature.signer, signature.pkcs7->d.sign->cert, nullptr,
                  signature.signed_content);
  if (Explanation* e = notes.get(); e && signer.certificate != nullptr) {
    e->signer.certificate = DescribeCertificate(signer.certificate);
  }
  switch (signer.outcome) {
    case SignerCheck::Outcome::kVerified:
      break;
    case SignerCheck::Outcome::kUnsupportedAlgorithm:
      return notes.Decide(ResultOf(status::kNteBadAlgId),
                          "the signer's digest, or its signature algorithm "
                          "or key, is one Windows cannot verify with",
                          signer.certificate);
    case SignerCheck::Outcome::kNoCertificate:
      return notes.Decide(ResultOf(status::kTrustNoSignerCert),
                          "no certificate in the signature has the issuer "
                          "and serial number the signer names");
    case SignerCheck::Outcome::kBadSignature:
      return notes.Decide(ResultOf(status::kTrustBadDigest),
                          "the signer's signature does not verify",
                          signer.certificate);
  }
  *signer_cert = signer.certificate;

  const std::optional<std::vector<uint8_t>> hash =
      HashImage(source, image, image_digest);
  if (!hash) {
    return notes.Decide(ResultOf(status::kCryptFileError),
                        "it could not be read");
  }
  const bool matches = DigestMatches(signed_hash, *hash);
  if (Explanation* e = notes.get()) e->image.hash_matches = matches;
  if (!matches) {
    return notes.Decide(ResultOf(status::kTrustBadDigest),
                        "the image hash is not the one the signature "
                        "carries: the file was changed after signing");
  }
  return std::nullopt;
}

// The timestamp and the chains, in the order Windows' Authenticode provider
// takes them: the stamp's own checks with the signature, then the signer's
// chain, then (only when that is sound) the stamp's authority's.
AuthenticodeResult CheckTrust(const Signature& signature, X509* signer_cert,
                              TrustAnchors& anchors, std::time_t now,
                              const Notes& notes) {
  STACK_OF(X509)* certs = signature.pkcs7->d.sign->cert;
  const Timestamp stamp = CheckTimestamp(signature.signer, certs);
  Explanation* e = notes.get();
  if (e != nullptr) NoteTimestamp(stamp, &e->timestamp);
  if (stamp.status == Timestamp::Status::kInvalid) {
    return notes.Decide(
        ResultOf(status::kTrustTimeStamp),
        std::string("the timestamp fails its own checks: ") + stamp.reason,
        stamp.authority);
  }
  // A lifetime-signing certificate is judged now; any other as of its
  // timestamp when there is one. A stamp outside the certificate's
  // validity leaves it expired.
  using Why = Explanation::CheckedAt::Why;
  std::time_t when = now;
  Why why = Why::kNow;
  if (stamp.status == Timestamp::Status::kValid) {
    if (ReadExtendedKeyUsage(signer_cert).lifetime_signing) {
      why = Why::kLifetimeSigning;
    } else {
      when = stamp.time;
      why = Why::kStamp;
    }
  }
  if (e != nullptr) e->checked_at = {why, when};
  X509_STORE* store = anchors.Get();
  // Trust data the user named but that does not load trusts nothing: no
  // chain is judged, and nothing else stands in for it.
  if (const std::optional<TrustLoadError>& failed = anchors.load_error()) {
    return notes.Decide(
        ResultOf(status::kTrustSystemError),
        "Windows' root program could not be loaded: " + failed->file);
  }
  const WindowsRoots* program = anchors.windows_roots();
  const ChainResult chain = CheckCertificateChain(
      signer_cert, certs, store, when, ChainUse::kCodeSigning, program);
  if (e != nullptr) e->chain = DescribeChain(chain, program);
  if (chain.deciding() != nullptr) {
    return DecideByChain(ResultOf(chain.status), "in the signer's chain, ",
                         chain, notes);
  }
  if (stamp.status == Timestamp::Status::kValid) {
    const ChainResult authority =
        CheckTimestampAuthority(stamp, certs, store, program);
    if (e != nullptr) {
      e->timestamp.chain = DescribeChain(authority, program);
      if (authority.deciding() != nullptr) {
        e->timestamp.status = "its authority is not trusted";
      }
    }
    if (authority.deciding() != nullptr) {
      return DecideByChain(ResultOf(status::kTrustTimeStamp),
                           "in the timestamp authority's chain, ", authority,
                           notes);
    }
  }
  return notes.Decide(ResultOf(status::kSuccess), "every check passes");
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

AuthenticodeResult VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors,
                                      std::time_t now,
                                      Explanation* explanation) {
  const ErrorQueueGuard clear_errors;
  const Notes notes(explanation);
  PeImage image;
  std::vector<uint8_t> der;
  if (const Step read = ReadSignature(source, &image, &der, notes)) {
    return *read;
  }
  const std::optional<Signature> signature = DecodeSignature(std::move(der));
  if (!signature) {
    return notes.Decide(kNotAuthenticode,
                        "its signature is not an Authenticode signature, is "
                        "over a cap on the work it may ask, or its content "
                        "is not the shape its version gives");
  }
  X509* signer_cert = nullptr;
  if (const Step checked = CheckSignatureAndImage(*signature, source, image,
                                                  &signer_cert, notes)) {
    return *checked;
  }
  return CheckTrust(*signature, signer_cert, anchors, now, notes);
}

AuthenticodeResult VerifyAuthenticode(ByteSource& source,
                                      TrustAnchors& anchors) {
  return VerifyAuthenticode(source, anchors, std::time(nullptr));
}

AuthenticodeResult VerifyAuthenticodeFile(const std::string& path,
                                          TrustAnchors& anchors,
                                          Explanation* explanation) {
  const std::unique_ptr<FileByteSource> file = FileByteSource::Open(path);
  if (!file) {
    return Notes(explanation)
        .Decide(ResultOf(status::kCryptFileError),
                "it could not be opened as a regular file");
  }
  return VerifyAuthenticode(*file, anchors, std::time(nullptr), explanation);
}

}  // namespace sealprobe

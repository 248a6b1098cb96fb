#include "authenticode/authenticode.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "authenticode/compound_file.h"
#include "authenticode/file_byte_source.h"
#include "authenticode/msi_package.h"
#include "authenticode/openssl_ptr.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

// SPC_SIPINFO_OBJID: the SpcSipInfo an installer's signature signs.
constexpr char kSipInfoOid[] = "1.3.6.1.4.1.311.2.1.30";

// Leaves OpenSSL's per-thread error queue empty however verification ends,
// so that one file's failures never show up in the next file's checks.
class ErrorQueueGuard {
 public:
  ErrorQueueGuard() = default;
  ErrorQueueGuard(const ErrorQueueGuard&) = delete;
  ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
  ~ErrorQueueGuard() { ERR_clear_error(); }
};

// `rule` decides `v`: `status`, which WinVerifyTrust also leaves as the
// thread's last error unless `last_error` says otherwise. False, so that a
// step can end with it.
bool Decide(Verification* v, Rule rule, uint32_t status,
            uint32_t last_error = 0) {
  v->rule = rule;
  v->result = {status, last_error != 0 ? last_error : status};
  return false;
}

// A digest being computed, its bytes handed in as a ChunkSink.
class RunningDigest {
 public:
  explicit RunningDigest(const EVP_MD* digest) : ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), digest, nullptr) == 1;
  }
  bool ok() const { return ok_; }
  ChunkSink Sink() {
    EVP_MD_CTX* md = ctx_.get();
    return [md](const uint8_t* data, size_t size) {
      return EVP_DigestUpdate(md, data, size) == 1;
    };
  }
  std::optional<std::vector<uint8_t>> Final() {
    std::vector<uint8_t> hash(EVP_MAX_MD_SIZE);
    unsigned size = 0;
    if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), hash.data(), &size) != 1) {
      return std::nullopt;
    }
    hash.resize(size);
    return hash;
  }

 private:
  ossl::EvpMdCtxPtr ctx_;
  bool ok_ = false;
};

// What a signature's digest is checked against, with one digest: the
// subject's hash, and an installer's pre-hash when it has one.
struct SubjectHash {
  enum class Status { kOk, kReadError, kMalformed };
  Status status = Status::kOk;
  std::vector<uint8_t> digest;
  std::optional<std::vector<uint8_t>> metadata;
};

SubjectHash Failed(SubjectHash::Status status) {
  SubjectHash hash;
  hash.status = status;
  return hash;
}

// The Authenticode hash of `image` with `digest`: the bytes of
// ImageHashRanges(image), read in blocks.
SubjectHash HashImage(ByteSource& source, const PeImage& image,
                      const EVP_MD* digest) {
  RunningDigest md(digest);
  if (!md.ok()) return Failed(SubjectHash::Status::kReadError);
  const ChunkSink update = md.Sink();
  for (const ByteRange& range : ImageHashRanges(image)) {
    if (!source.Stream(range.offset, range.size, update)) {
      return Failed(SubjectHash::Status::kReadError);
    }
  }
  SubjectHash hash;
  std::optional<std::vector<uint8_t>> value = md.Final();
  if (!value) return Failed(SubjectHash::Status::kReadError);
  hash.digest = std::move(*value);
  return hash;
}

// An installer's hash with `digest`: with its pre-hash first when
// `with_metadata` (msi_package.h).
SubjectHash HashInstaller(ByteSource& source, CompoundFile& file,
                          bool with_metadata, const EVP_MD* digest) {
  SubjectHash hash;
  RunningDigest md(digest);
  const ChunkSink update = md.Sink();
  if (with_metadata) {
    RunningDigest pre(digest);
    hash.metadata = pre.ok() && FeedInstallerMetadata(file, pre.Sink())
                        ? pre.Final()
                        : std::nullopt;
    if (!hash.metadata || !md.ok() ||
        !update(hash.metadata->data(), hash.metadata->size())) {
      return Failed(SubjectHash::Status::kReadError);
    }
  }
  if (!md.ok()) return Failed(SubjectHash::Status::kReadError);
  switch (FeedInstallerContent(file, source, update)) {
    case CompoundStatus::kOk:
      break;
    case CompoundStatus::kMalformed:
      return Failed(SubjectHash::Status::kMalformed);
    default:
      return Failed(SubjectHash::Status::kReadError);
  }
  std::optional<std::vector<uint8_t>> value = md.Final();
  if (!value) return Failed(SubjectHash::Status::kReadError);
  hash.digest = std::move(*value);
  return hash;
}

// A subject's hashes, each digest's computed once: every signature of a
// file covers the same bytes.
class SubjectHashes {
 public:
  using Compute = std::function<SubjectHash(const EVP_MD*)>;
  explicit SubjectHashes(Compute compute) : compute_(std::move(compute)) {}

  // The hash with `digest`; one that failed is tried again the next time.
  SubjectHash Of(const EVP_MD* digest) {
    for (const auto& [type, hash] : done_) {
      if (type == EVP_MD_type(digest)) return hash;
    }
    SubjectHash hash = compute_(digest);
    if (hash.status == SubjectHash::Status::kOk) {
      done_.emplace_back(EVP_MD_type(digest), hash);
    }
    return hash;
  }

 private:
  Compute compute_;
  std::vector<std::pair<int, SubjectHash>> done_;
};

// The file under verification once its kind is known: what its hashes are
// computed from, kept where the hashes can reach it.
struct Subject {
  std::optional<PeImage> image;
  std::optional<CompoundFile> compound;
  std::optional<SubjectHashes> hashes;
};

// The image's layout, and its hashes. True to go on.
bool ReadImage(ByteSource& source, Subject* subject, Verification* v) {
  const PeParseResult pe = ParsePeImage(source);
  switch (pe.status) {
    case PeStatus::kOk:
      break;
    case PeStatus::kNotPe:
      return Decide(v, Rule::kNotPe, status::kTrustSubjectFormUnknown);
    case PeStatus::kReadError:
      return Decide(v, Rule::kUnreadable, status::kCryptFileError);
  }
  v->format = SubjectFormat::kPe;
  v->image = pe.image;
  subject->image = pe.image;
  const PeImage* image = &*subject->image;
  subject->hashes.emplace([&source, image](const EVP_MD* digest) {
    return HashImage(source, *image, digest);
  });
  return true;
}

// A table entry's signature read into memory. True to go on.
bool CheckEntry(const SignatureEntry& entry, Verification* v) {
  switch (entry.status) {
    case SignatureStatus::kOk:
      return true;
    case SignatureStatus::kNoSignature:
      return Decide(v, Rule::kNoSignature, status::kTrustNoSignature);
    case SignatureStatus::kTooLarge:
      return Decide(v, Rule::kSignatureTooLarge, status::kTrustNoSignature,
                    status::kErrorNotEnoughMemory);
    case SignatureStatus::kReadError:
      return Decide(v, Rule::kUnreadable, status::kCryptFileError);
  }
  return true;
}

// A compound file's status, decided. False.
bool CompoundFailed(CompoundStatus status, CompoundFault fault,
                    Verification* v) {
  if (status == CompoundStatus::kReadError) {
    return Decide(v, Rule::kUnreadable, status::kCryptFileError);
  }
  v->compound->fault = fault;
  return Decide(v, Rule::kMalformedCompoundFile,
                status::kTrustSubjectFormUnknown);
}

// A compound file: its kind by its root's CLSID, as Windows' installer SIP
// tells its files, then, for an installer, all of it. True to go on.
bool ReadCompoundFile(ByteSource& source, Subject* subject, Verification* v) {
  v->format = SubjectFormat::kCompoundFile;
  v->compound.emplace();
  const RootClsidRead root = ReadRootClsid(source);
  if (root.status != CompoundStatus::kOk) {
    return CompoundFailed(root.status, root.fault, v);
  }
  v->compound->layout.root_clsid = root.clsid;
  if (!IsInstallerClsid(root.clsid)) {
    return Decide(v, Rule::kNotInstaller, status::kTrustSubjectFormUnknown);
  }
  v->format = SubjectFormat::kInstaller;
  const CompoundRead read = CompoundFile::Read(source, &subject->compound);
  v->compound->layout = read.layout;
  if (read.status != CompoundStatus::kOk) {
    return CompoundFailed(read.status, read.fault, v);
  }
  return true;
}

// The bytes of an installer's stream `index`, whose size was checked.
CompoundStatus ReadStream(ByteSource& source, CompoundFile& file,
                          uint32_t index, std::vector<uint8_t>* bytes) {
  bytes->clear();
  bytes->reserve(static_cast<size_t>(file.entries()[index].size));
  return file.Stream(source, index, [bytes](const uint8_t* data, size_t size) {
    bytes->insert(bytes->end(), data, data + size);
    return true;
  });
}

// An installer's signature streams, and its hashes. True to go on, with
// `der` the \x05DigitalSignature stream's bytes.
bool ReadInstallerSignature(ByteSource& source, Subject* subject,
                            Verification* v, std::vector<uint8_t>* der) {
  CompoundFile* file = &*subject->compound;
  CompoundEvidence& evidence = *v->compound;
  const std::optional<uint32_t> metadata = FindMetadataStream(*file);
  if (metadata) {
    evidence.metadata_size = file->entries()[*metadata].size;
    if (*evidence.metadata_size <= EVP_MAX_MD_SIZE) {
      const CompoundStatus read =
          ReadStream(source, *file, *metadata, &evidence.metadata_stored);
      if (read != CompoundStatus::kOk) {
        return CompoundFailed(read, CompoundFault::kBrokenChain, v);
      }
    }
  }
  const bool with_metadata = metadata.has_value();
  subject->hashes.emplace([&source, file, with_metadata](const EVP_MD* md) {
    return HashInstaller(source, *file, with_metadata, md);
  });
  const std::optional<uint32_t> signature = FindSignatureStream(*file);
  if (!signature) {
    return Decide(v, Rule::kNoSignature, status::kTrustNoSignature);
  }
  evidence.signature_size = file->entries()[*signature].size;
  if (*evidence.signature_size > kMaxSignatureSize) {
    return Decide(v, Rule::kSignatureTooLarge, status::kTrustNoSignature,
                  status::kErrorNotEnoughMemory);
  }
  const CompoundStatus read = ReadStream(source, *file, *signature, der);
  if (read != CompoundStatus::kOk) {
    return CompoundFailed(read, CompoundFault::kBrokenChain, v);
  }
  return true;
}

// How many bytes of `held` come after a PKCS#7 of `encoded` bytes that do
// not belong to its container's format: in a PE's table entry, those past
// the padding to 8 bytes that ends the entry where the next one starts.
uint64_t BytesAfter(size_t held, size_t encoded, SubjectFormat format) {
  if (held <= encoded) return 0;
  const size_t padding =
      format == SubjectFormat::kPe ? (8 - encoded % 8) % 8 : 0;
  return held - encoded > padding ? held - encoded - padding : 0;
}

// An installer's signature signs its SIP information
// (SPC_SIPINFO_OBJID), which is what osslsigncode and signtool write; a
// signature of any other content is refused, failing closed, since nothing
// public shows what Windows' installer SIP makes of one. Nothing may follow
// the PKCS#7 in its stream either: whether Windows' decoder reads past
// trailing bytes there is not documented, so they fail closed too.
SignatureFault InstallerFault(const Signature& signature, uint64_t after) {
  if (after > 0) return SignatureFault::kBytesAfterSignature;
  const ossl::Asn1ObjectPtr sip_info(OBJ_txt2obj(kSipInfoOid, 1));
  const ASN1_OBJECT* type = signature.subject_type();
  if (!sip_info || type == nullptr || OBJ_cmp(type, sip_info.get()) != 0) {
    return SignatureFault::kNotForThisFormat;
  }
  return SignatureFault::kNone;
}

// The signature decoded, and what its container holds after it. True to go
// on.
bool Decode(std::vector<uint8_t> der, Verification* v) {
  const size_t held = der.size();
  v->signature = DecodeSignature(std::move(der));
  Signature& signature = *v->signature;
  if (signature.encoded_size != 0) {
    v->bytes_after_signature =
        BytesAfter(held, signature.encoded_size, v->format);
  }
  if (signature.fault == SignatureFault::kNone &&
      v->format == SubjectFormat::kInstaller) {
    signature.fault =
        InstallerFault(signature, v->bytes_after_signature.value_or(0));
  }
  if (signature.fault != SignatureFault::kNone) {
    return Decide(v, Rule::kMalformedSignature, status::kTrustNoSignature,
                  status::kCryptAsn1BadTag);
  }
  return true;
}

// The subject's hash with the signature's digest, and an installer's
// pre-hash, against what the signature and the file carry. True to go on.
bool CheckSubjectHash(SubjectHashes& hashes, const EVP_MD* digest,
                      Verification* v) {
  SubjectHash hash = hashes.Of(digest);
  switch (hash.status) {
    case SubjectHash::Status::kOk:
      break;
    case SubjectHash::Status::kReadError:
      return Decide(v, Rule::kUnreadable, status::kCryptFileError);
    case SubjectHash::Status::kMalformed:
      return CompoundFailed(CompoundStatus::kMalformed,
                            CompoundFault::kBrokenChain, v);
  }
  if (hash.metadata) {
    CompoundEvidence& evidence = *v->compound;
    evidence.metadata_hash = *hash.metadata;
    if (evidence.metadata_size != hash.metadata->size() ||
        evidence.metadata_stored != *hash.metadata) {
      return Decide(v, Rule::kMetadataHashMismatch, status::kTrustBadDigest);
    }
  }
  v->image_hash = std::move(hash.digest);
  if (!DigestMatches(v->signature->image_digest(), *v->image_hash)) {
    return Decide(v, Rule::kImageHashMismatch, status::kTrustBadDigest);
  }
  return true;
}

// The signer's signature over the content, then the subject's hash the
// content carries: the signer's part is cheap and settled first, then the
// one pass over the whole file. True to go on.
bool CheckSignatureAndImage(SubjectHashes& hashes, Verification* v) {
  const Signature& signature = *v->signature;
  const EVP_MD* image_digest =
      SupportedDigest(signature.image_digest_algorithm());
  if (image_digest == nullptr) {
    return Decide(v, Rule::kImageDigestUnsupported, status::kNteBadAlgId);
  }
  v->signer = CheckSigner(signature.signer, signature.certificates(), nullptr,
                          signature.signed_content);
  switch (v->signer->outcome) {
    case SignerCheck::Outcome::kVerified:
      break;
    case SignerCheck::Outcome::kUnsupportedAlgorithm:
      return Decide(v, Rule::kSignerAlgorithmUnsupported, status::kNteBadAlgId);
    case SignerCheck::Outcome::kNoCertificate:
      return Decide(v, Rule::kSignerCertificateMissing,
                    status::kTrustNoSignerCert);
    case SignerCheck::Outcome::kBadSignature:
      return Decide(v, Rule::kSignerSignatureBad, status::kTrustBadDigest);
  }
  return CheckSubjectHash(hashes, image_digest, v);
}

// The timestamp's own checks, with the signature and before any chain, and
// the time the signer's chain is judged as of. True to go on.
bool CheckStamp(std::time_t now, Verification* v) {
  v->stamp = CheckTimestamp(v->signature->signer, v->signature->certificates());
  if (v->stamp->present() && !v->stamp->valid()) {
    return Decide(v, Rule::kTimestampInvalid, status::kTrustTimeStamp);
  }
  // A lifetime-signing certificate is judged now; any other as of its
  // timestamp when there is one. A stamp outside the certificate's
  // validity leaves it expired.
  using Basis = CheckingTime::Basis;
  if (!v->stamp->valid()) {
    v->checked_at = CheckingTime{now, Basis::kNow};
  } else if (ReadExtendedKeyUsage(v->signer->certificate).lifetime_signing) {
    v->checked_at = CheckingTime{now, Basis::kLifetimeSigning};
  } else {
    v->checked_at = CheckingTime{v->stamp->time, Basis::kStamp};
  }
  return true;
}

// The chains, in the order Windows' Authenticode provider takes them: the
// signer's, then (only when that is sound) the stamp's authority's.
void CheckChains(TrustAnchors& anchors, Verification* v) {
  X509_STORE* store = anchors.Get();
  // Trust data the user named but that does not load trusts nothing: no
  // chain is judged, and nothing else stands in for it.
  if (anchors.load_error()) {
    Decide(v, Rule::kTrustNotLoaded, status::kTrustSystemError);
    return;
  }
  const WindowsRoots* program = anchors.windows_roots();
  STACK_OF(X509)* certs = v->signature->certificates();
  v->chain = CheckCertificateChain(v->signer->certificate, certs, store,
                                   v->checked_at->time, ChainUse::kCodeSigning,
                                   program);
  if (v->chain->deciding() != nullptr) {
    Decide(v, Rule::kSignerChain, v->chain->status);
    return;
  }
  if (v->stamp->valid()) {
    v->authority_chain =
        CheckTimestampAuthority(*v->stamp, certs, store, program);
    if (v->authority_chain->deciding() != nullptr) {
      Decide(v, Rule::kAuthorityChain, status::kTrustTimeStamp);
      return;
    }
  }
  Decide(v, Rule::kValid, status::kSuccess);
}

// Every step from the signature's DER on, for a signature of the subject in
// `v`: decoding it, its signer and the subject's hash, its stamp, its
// chains.
void JudgeSignature(std::vector<uint8_t> der, SubjectHashes& hashes,
                    TrustAnchors& anchors, std::time_t now, Verification* v) {
  if (Decode(std::move(der), v) && CheckSignatureAndImage(hashes, v) &&
      CheckStamp(now, v)) {
    CheckChains(anchors, v);
  }
}

Verification NotOpened() {
  Verification v;
  Decide(&v, Rule::kNotOpened, status::kCryptFileError);
  return v;
}

// The primary signature, judged; `subject` filled in as far as the file
// was read: its hashes are there once its kind is known.
Verification VerifyPrimary(ByteSource& source, TrustAnchors& anchors,
                           std::time_t now, Subject* subject) {
  Verification v;
  std::vector<uint8_t> der;
  if (StartsAsCompoundFile(source)) {
    if (ReadCompoundFile(source, subject, &v) &&
        ReadInstallerSignature(source, subject, &v, &der)) {
      JudgeSignature(std::move(der), *subject->hashes, anchors, now, &v);
    }
  } else if (ReadImage(source, subject, &v)) {
    SignatureEntry entry = ReadSignatureEntry(source, *v.image);
    if (CheckEntry(entry, &v)) {
      JudgeSignature(std::move(entry.pkcs7), *subject->hashes, anchors, now,
                     &v);
    }
  }
  return v;
}

}  // namespace

Verification VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors,
                                std::time_t now) {
  const ErrorQueueGuard clear_errors;
  Subject subject;
  return VerifyPrimary(source, anchors, now, &subject);
}

Verification VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors) {
  return VerifyAuthenticode(source, anchors, std::time(nullptr));
}

std::vector<Verification> VerifyEverySignature(ByteSource& source,
                                               TrustAnchors& anchors,
                                               std::time_t now) {
  const ErrorQueueGuard clear_errors;
  Subject subject;
  std::vector<Verification> all;
  all.push_back(VerifyPrimary(source, anchors, now, &subject));
  // Of no kind signed here, or one that stopped reading: nothing more is
  // read.
  if (!subject.hashes || all[0].rule == Rule::kUnreadable) return all;
  // Each judged alone: what one signature leaves in OpenSSL's error queue
  // never reaches the next one's checks.
  const auto judge = [&](SignatureEntry entry) {
    const ErrorQueueGuard clear_between;
    Verification v;
    v.format = all[0].format;
    v.image = all[0].image;
    v.compound = all[0].compound;
    if (v.compound) v.compound->metadata_hash.reset();
    if (CheckEntry(entry, &v)) {
      JudgeSignature(std::move(entry.pkcs7), *subject.hashes, anchors, now, &v);
    }
    all.push_back(std::move(v));
  };
  if (all[0].signature) {
    for (std::vector<uint8_t>& der : NestedSignatures(*all[0].signature)) {
      judge({SignatureStatus::kOk, std::move(der)});
    }
  }
  if (subject.image) {
    for (SignatureEntry& entry :
         ReadLaterSignatureEntries(source, *subject.image)) {
      judge(std::move(entry));
    }
  }
  return all;
}

Verification VerifyAuthenticodeFile(const std::string& path,
                                    TrustAnchors& anchors) {
  const std::unique_ptr<FileByteSource> file = FileByteSource::Open(path);
  if (!file) return NotOpened();
  return VerifyAuthenticode(*file, anchors, std::time(nullptr));
}

std::vector<Verification> VerifyEverySignatureFile(const std::string& path,
                                                   TrustAnchors& anchors,
                                                   std::time_t now) {
  const std::unique_ptr<FileByteSource> file = FileByteSource::Open(path);
  if (file) return VerifyEverySignature(*file, anchors, now);
  std::vector<Verification> none;
  none.push_back(NotOpened());
  return none;
}

}  // namespace sealprobe

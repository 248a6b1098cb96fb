#include "authenticode/authenticode.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <optional>
#include <utility>
#include <vector>

#include "authenticode/file_byte_source.h"
#include "authenticode/openssl_ptr.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

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

// The Authenticode hash of `image` with `digest`: the bytes of
// ImageHashRanges(image), read in blocks. nullopt when a read fails.
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

// The image hashes of one image, each digest's computed once: every
// signature of a file covers the same ranges, the whole certificate table
// left out.
class ImageHashes {
 public:
  ImageHashes(ByteSource& source, const PeImage& image)
      : source_(source), image_(image) {}

  // HashImage's result; a failed read is tried again the next time.
  std::optional<std::vector<uint8_t>> Of(const EVP_MD* digest) {
    for (const auto& [type, hash] : done_) {
      if (type == EVP_MD_type(digest)) return hash;
    }
    std::optional<std::vector<uint8_t>> hash =
        HashImage(source_, image_, digest);
    if (hash) done_.emplace_back(EVP_MD_type(digest), *hash);
    return hash;
  }

 private:
  ByteSource& source_;
  const PeImage image_;
  std::vector<std::pair<int, std::vector<uint8_t>>> done_;
};

// The image's layout. True to go on.
bool ReadImage(ByteSource& source, Verification* v) {
  const PeParseResult pe = ParsePeImage(source);
  switch (pe.status) {
    case PeStatus::kOk:
      break;
    case PeStatus::kNotPe:
      return Decide(v, Rule::kNotPe, status::kTrustSubjectFormUnknown);
    case PeStatus::kReadError:
      return Decide(v, Rule::kUnreadable, status::kCryptFileError);
  }
  v->image = pe.image;
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

// The signature decoded. True to go on.
bool Decode(std::vector<uint8_t> der, Verification* v) {
  v->signature = DecodeSignature(std::move(der));
  if (v->signature->fault != SignatureFault::kNone) {
    return Decide(v, Rule::kMalformedSignature, status::kTrustNoSignature,
                  status::kCryptAsn1BadTag);
  }
  return true;
}

// The signer's signature over the content, then the image hash the content
// carries: the signer's part is cheap and settled first, then the one pass
// over the whole file. True to go on.
bool CheckSignatureAndImage(ImageHashes& hashes, Verification* v) {
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
  v->image_hash = hashes.Of(image_digest);
  if (!v->image_hash) {
    return Decide(v, Rule::kUnreadable, status::kCryptFileError);
  }
  if (!DigestMatches(signature.image_digest(), *v->image_hash)) {
    return Decide(v, Rule::kImageHashMismatch, status::kTrustBadDigest);
  }
  return true;
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

// Every step from the signature's DER on, for a signature of the image in
// `v`: decoding it, its signer and the image hash, its stamp, its chains.
void JudgeSignature(std::vector<uint8_t> der, ImageHashes& hashes,
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

// The primary signature, judged; `hashes` made for its image once known.
Verification VerifyPrimary(ByteSource& source, TrustAnchors& anchors,
                           std::time_t now,
                           std::optional<ImageHashes>* hashes) {
  Verification v;
  if (ReadImage(source, &v)) {
    hashes->emplace(source, *v.image);
    SignatureEntry entry = ReadSignatureEntry(source, *v.image);
    if (CheckEntry(entry, &v)) {
      JudgeSignature(std::move(entry.pkcs7), **hashes, anchors, now, &v);
    }
  }
  return v;
}

}  // namespace

Verification VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors,
                                std::time_t now) {
  const ErrorQueueGuard clear_errors;
  std::optional<ImageHashes> hashes;
  return VerifyPrimary(source, anchors, now, &hashes);
}

Verification VerifyAuthenticode(ByteSource& source, TrustAnchors& anchors) {
  return VerifyAuthenticode(source, anchors, std::time(nullptr));
}

std::vector<Verification> VerifyEverySignature(ByteSource& source,
                                               TrustAnchors& anchors,
                                               std::time_t now) {
  const ErrorQueueGuard clear_errors;
  std::optional<ImageHashes> hashes;
  std::vector<Verification> all;
  all.push_back(VerifyPrimary(source, anchors, now, &hashes));
  // Not a PE image, or one that stopped reading: nothing more is read.
  if (!hashes || all[0].rule == Rule::kUnreadable) return all;
  const PeImage image = *all[0].image;
  // Each judged alone: what one signature leaves in OpenSSL's error queue
  // never reaches the next one's checks.
  const auto judge = [&](SignatureEntry entry) {
    const ErrorQueueGuard clear_between;
    Verification v;
    v.image = image;
    if (CheckEntry(entry, &v)) {
      JudgeSignature(std::move(entry.pkcs7), *hashes, anchors, now, &v);
    }
    all.push_back(std::move(v));
  };
  if (all[0].signature) {
    for (std::vector<uint8_t>& der : NestedSignatures(*all[0].signature)) {
      judge({SignatureStatus::kOk, std::move(der)});
    }
  }
  for (SignatureEntry& entry : ReadLaterSignatureEntries(source, image)) {
    judge(std::move(entry));
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

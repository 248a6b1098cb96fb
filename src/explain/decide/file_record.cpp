#include "explain/decide/file_record.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <memory>

#include "authenticode/authenticode.h"
#include "authenticode/openssl_ptr.h"
#include "trust/verdict.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

TrustFacts DescribeTrust(const TrustAnchors& anchors) {
  TrustFacts trust;
  switch (anchors.source()) {
    case TrustAnchors::Source::kSystem:
      trust.store = "system";
      break;
    case TrustAnchors::Source::kPemFile:
    case TrustAnchors::Source::kSystemAndPemFile:
      trust.store = "anchors";
      break;
    case TrustAnchors::Source::kWindowsRootProgram:
      trust.store = "windows-root-program";
      break;
  }
  trust.location = anchors.location();
  if (const WindowsRoots* roots = anchors.windows_roots()) {
    trust.ctl_this_update = roots->roots().this_update;
    trust.ctl_sequence_number = roots->roots().sequence_number;
  }
  trust.load_error = anchors.load_error();
  return trust;
}

}  // namespace

FileRecord ExplainFile(const std::string& path, TrustAnchors& anchors,
                       const Policy& policy, std::time_t now) {
  FileRecord record;
  record.file = path;
  std::vector<Verification> signatures =
      VerifyEverySignatureFile(path, anchors, now);
  record.policy = CheckPolicy(signatures, policy);
  record.verification = std::move(signatures[0]);
  record.others.assign(std::make_move_iterator(signatures.begin() + 1),
                       std::make_move_iterator(signatures.end()));
  record.trust = DescribeTrust(anchors);
  record.verdict = DescribeTrustResult(record.verification.result, path).line;
  return record;
}

FileRecord ExplainEntry(const StagingEntry& entry, TrustAnchors& anchors,
                        const Policy& policy, std::time_t now) {
  if (!entry.found) {
    FileRecord record;
    record.file = entry.product_path;
    record.entry = entry;
    record.trust = DescribeTrust(anchors);
    return record;
  }
  FileRecord record = ExplainFile(entry.path(), anchors, policy, now);
  record.entry = entry;
  return record;
}

std::optional<std::string> AnchorsFileProblem(const std::string& path) {
  const ossl::BioPtr file(BIO_new_file(path.c_str(), "r"));
  if (!file) return std::string("it cannot be opened");
  struct InfoStackDeleter {
    void operator()(STACK_OF(X509_INFO) * p) const noexcept {
      sk_X509_INFO_pop_free(p, X509_INFO_free);
    }
  };
  const std::unique_ptr<STACK_OF(X509_INFO), InfoStackDeleter> infos(
      PEM_X509_INFO_read_bio(file.get(), nullptr, nullptr, nullptr));
  ERR_clear_error();
  if (!infos) return std::string("it does not decode as PEM");
  for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
    if (sk_X509_INFO_value(infos.get(), i)->x509 != nullptr) {
      return std::nullopt;
    }
  }
  return std::string("it holds no certificate");
}

}  // namespace sealprobe

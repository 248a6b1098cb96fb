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
  FileRecord report;
  report.file = path;
  std::vector<Verification> signatures =
      VerifyEverySignatureFile(path, anchors, now);
  report.policy = CheckPolicy(signatures, policy);
  report.verification = std::move(signatures[0]);
  report.others.assign(std::make_move_iterator(signatures.begin() + 1),
                       std::make_move_iterator(signatures.end()));
  report.trust = DescribeTrust(anchors);
  report.verdict = DescribeTrustResult(report.verification.result, path).line;
  return report;
}

FileRecord ExplainEntry(const StagingEntry& entry, TrustAnchors& anchors,
                        const Policy& policy, std::time_t now) {
  if (!entry.found) {
    FileRecord report;
    report.file = entry.product_path;
    report.entry = entry;
    report.trust = DescribeTrust(anchors);
    return report;
  }
  FileRecord report = ExplainFile(entry.path(), anchors, policy, now);
  report.entry = entry;
  return report;
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

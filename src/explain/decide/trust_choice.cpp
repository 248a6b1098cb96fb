#include "explain/decide/trust_choice.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {
namespace {

using Kind = TrustProblem::Kind;

// Why the PEM file at `path` cannot serve as anchors; nothing when it can.
std::optional<Kind> AnchorsFileProblem(const std::string& path) {
  const ossl::BioPtr file(BIO_new_file(path.c_str(), "r"));
  if (!file) return Kind::kAnchorsNotOpened;
  struct InfoStackDeleter {
    void operator()(STACK_OF(X509_INFO) * p) const noexcept {
      sk_X509_INFO_pop_free(p, X509_INFO_free);
    }
  };
  const std::unique_ptr<STACK_OF(X509_INFO), InfoStackDeleter> infos(
      PEM_X509_INFO_read_bio(file.get(), nullptr, nullptr, nullptr));
  ERR_clear_error();
  if (!infos) return Kind::kAnchorsNotPem;
  for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
    if (sk_X509_INFO_value(infos.get(), i)->x509 != nullptr) {
      return std::nullopt;
    }
  }
  return Kind::kAnchorsNoCertificate;
}

TrustChoice Problem(Kind kind, std::string path = {}) {
  return {std::nullopt, TrustProblem{kind, std::move(path), std::nullopt}};
}

}  // namespace

TrustEnvironment ReadTrustEnvironment() {
  const char* folder = std::getenv("SEALPROBE_WINDOWS_TRUST");
  return {folder != nullptr ? folder : ""};
}

TrustChoice ChooseTrust(const TrustOptions& options,
                        const TrustEnvironment& environment) {
  if (!options.anchors_file.empty()) {
    if (!options.windows_folder.empty()) {
      return Problem(Kind::kAnchorsWithWindowsTrust);
    }
    if (const auto problem = AnchorsFileProblem(options.anchors_file)) {
      return Problem(*problem, options.anchors_file);
    }
    if (!environment.windows_folder.empty()) {
      return Problem(Kind::kAnchorsWithEnvironment);
    }
    return {TrustAnchors::SystemDefaultAnd(options.anchors_file), {}};
  }
  const std::string& folder = !options.windows_folder.empty()
                                  ? options.windows_folder
                                  : environment.windows_folder;
  if (folder.empty()) return {TrustAnchors::SystemDefault(), {}};
  TrustAnchors anchors = TrustAnchors::WindowsRootProgram(folder);
  anchors.Get();
  if (const std::optional<TrustLoadError>& failed = anchors.load_error()) {
    TrustChoice choice = Problem(Kind::kNotLoaded, failed->file);
    choice.problem->load_error = failed;
    return choice;
  }
  return {std::move(anchors), {}};
}

}  // namespace sealprobe

#include "authenticode/trust_anchors.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdlib>

#include "authenticode/root_program/default_folder.h"
#include "file_descriptor.h"

namespace sealprobe {

PemAnchors ReadPemAnchors(const std::string& path) {
  PemAnchors out;
  const WholeFile file = ReadWholeFile(path, kMaxPemAnchorsBytes);
  switch (file.fault) {
    case WholeFile::Fault::kNone:
      break;
    case WholeFile::Fault::kNotRegular:
      out.fault = PemAnchors::Fault::kNotRegularFile;
      return out;
    case WholeFile::Fault::kTooLarge:
      out.fault = PemAnchors::Fault::kTooLarge;
      return out;
    case WholeFile::Fault::kOpen:
    case WholeFile::Fault::kRead:
      out.fault = PemAnchors::Fault::kUnreadable;
      out.error = file.error;
      return out;
  }
  struct InfoStackDeleter {
    void operator()(STACK_OF(X509_INFO) * p) const noexcept {
      sk_X509_INFO_pop_free(p, X509_INFO_free);
    }
  };
  const ossl::BioPtr bio(
      BIO_new_mem_buf(file.bytes.data(), static_cast<int>(file.bytes.size())));
  const std::unique_ptr<STACK_OF(X509_INFO), InfoStackDeleter> infos(
      bio ? PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr)
          : nullptr);
  ERR_clear_error();
  if (!infos) {
    out.fault = PemAnchors::Fault::kNotPem;
    return out;
  }
  for (int i = 0; i < sk_X509_INFO_num(infos.get()); ++i) {
    X509_INFO* info = sk_X509_INFO_value(infos.get(), i);
    if (info->x509 != nullptr) {
      out.certificates.emplace_back(info->x509);
      info->x509 = nullptr;  // owned by `out` now
    }
  }
  if (out.certificates.empty()) out.fault = PemAnchors::Fault::kNoCertificate;
  return out;
}

TrustEnvironment ReadTrustEnvironment() {
  TrustEnvironment environment;
  const char* folder = std::getenv("SEALPROBE_WINDOWS_TRUST");
  environment.set = folder != nullptr;
  if (folder != nullptr) environment.folder = folder;
  const std::string synced = DefaultWindowsTrustFolder();
  if (HoldsRootList(synced)) environment.synced = synced;
  return environment;
}

TrustAnchors TrustAnchors::FromEnvironment(
    const TrustEnvironment& environment) {
  if (environment.set) {
    // Set but empty: OpenSSL's store, whatever is synced.
    if (environment.folder.empty()) return SystemDefault();
    return WindowsRootProgram(environment.folder);
  }
  if (!environment.synced.empty())
    return WindowsRootProgram(environment.synced);
  return SystemDefault();
}

X509_STORE* TrustAnchors::Get() {
  State& s = *state_;
  std::call_once(s.once, [this] { Load(); });
  return s.windows ? s.windows->store() : s.store.get();
}

const WindowsRoots* TrustAnchors::windows_roots() const {
  return loaded() ? state_->windows.get() : nullptr;
}

const std::optional<TrustLoadError>& TrustAnchors::load_error() const {
  static const std::optional<TrustLoadError> kNotYet;
  return loaded() ? state_->load_error : kNotYet;
}

void TrustAnchors::Load() {
  State& s = *state_;
  if (source_ == Source::kWindowsRootProgram) {
    TrustLoadError error;
    s.windows = WindowsRoots::Load(location_, &error);
    if (!s.windows) s.load_error = std::move(error);
  } else if ((s.store = ossl::X509StorePtr(X509_STORE_new()))) {
    // A failed load only means fewer anchors.
    if (source_ != Source::kPemFile) {
      X509_STORE_set_default_paths(s.store.get());
    }
    if (source_ != Source::kSystem) {
      for (const ossl::X509Ptr& cert : ReadPemAnchors(location_).certificates) {
        X509_STORE_add_cert(s.store.get(), cert.get());
      }
    }
  }
  // What loading queued on this thread is no error of the verification
  // that asked for the store.
  ERR_clear_error();
  s.loaded.store(true, std::memory_order_release);
}

}  // namespace sealprobe

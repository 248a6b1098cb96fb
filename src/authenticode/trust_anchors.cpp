#include "authenticode/trust_anchors.h"

#include <openssl/err.h>

#include <cstdlib>

namespace sealprobe {

TrustAnchors TrustAnchors::FromEnvironment() {
  const char* folder = std::getenv("SEALPROBE_WINDOWS_TRUST");
  if (folder != nullptr && folder[0] != '\0') return WindowsRootProgram(folder);
  return SystemDefault();
}

X509_STORE* TrustAnchors::Get() {
  if (loaded_) {
    return windows_ ? windows_->store() : store_.get();
  }
  loaded_ = true;
  if (source_ == Source::kWindowsRootProgram) {
    TrustLoadError error;
    windows_ = WindowsRoots::Load(location_, &error);
    if (!windows_) load_error_ = std::move(error);
    ERR_clear_error();
    return windows_ ? windows_->store() : nullptr;
  }
  store_.reset(X509_STORE_new());
  if (!store_) return nullptr;
  // A failed load only means fewer anchors; its queued errors must not be
  // mistaken later for errors of the verification itself.
  if (source_ != Source::kPemFile) X509_STORE_set_default_paths(store_.get());
  if (source_ != Source::kSystem) {
    X509_STORE_load_file(store_.get(), location_.c_str());
  }
  ERR_clear_error();
  return store_.get();
}

}  // namespace sealprobe

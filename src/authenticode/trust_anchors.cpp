#include "authenticode/trust_anchors.h"

#include "authenticode/root_program/default_folder.h"

#include <openssl/err.h>

#include <cstdlib>

namespace sealprobe {

TrustAnchors TrustAnchors::FromEnvironment() {
  const char* folder = std::getenv("SEALPROBE_WINDOWS_TRUST");
  if (folder != nullptr) {
    // Set but empty: OpenSSL's store, whatever is synced.
    if (folder[0] == '\0') return SystemDefault();
    return WindowsRootProgram(folder);
  }
  const std::string synced = DefaultWindowsTrustFolder();
  if (HoldsRootList(synced)) return WindowsRootProgram(synced);
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
      X509_STORE_load_file(s.store.get(), location_.c_str());
    }
  }
  // What loading queued on this thread is no error of the verification
  // that asked for the store.
  ERR_clear_error();
  s.loaded.store(true, std::memory_order_release);
}

}  // namespace sealprobe

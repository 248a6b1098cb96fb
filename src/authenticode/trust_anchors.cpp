#include "authenticode/trust_anchors.h"

#include <openssl/err.h>

namespace sealprobe {

X509_STORE* TrustAnchors::Get() {
  if (loaded_) return store_.get();
  loaded_ = true;
  store_.reset(X509_STORE_new());
  if (!store_) return nullptr;
  // A failed load only means fewer anchors; its queued errors must not be
  // mistaken later for errors of the verification itself.
  if (defaults_) X509_STORE_set_default_paths(store_.get());
  if (!pem_file_.empty()) {
    X509_STORE_load_file(store_.get(), pem_file_.c_str());
  }
  ERR_clear_error();
  return store_.get();
}

}  // namespace sealprobe

// The certificates a signature's chain must end in, loaded once per run and
// only when a file first needs them.
#ifndef SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_
#define SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_

#include <openssl/x509_vfy.h>

#include <string>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {

class TrustAnchors {
 public:
  // OpenSSL's default locations, as X509_STORE_set_default_paths finds
  // them: SSL_CERT_FILE and SSL_CERT_DIR override the built-in ones.
  static TrustAnchors SystemDefault() { return TrustAnchors(true, {}); }

  // Only the certificates in the PEM file `pem_file` ("TRUSTED CERTIFICATE"
  // blocks keep their trust settings).
  static TrustAnchors FromFile(std::string pem_file) {
    return TrustAnchors(false, std::move(pem_file));
  }

  // The default locations and the certificates in `pem_file` besides.
  static TrustAnchors SystemDefaultAnd(std::string pem_file) {
    return TrustAnchors(true, std::move(pem_file));
  }

  TrustAnchors(TrustAnchors&&) = default;
  TrustAnchors& operator=(TrustAnchors&&) = default;

  // The store, loaded on the first call. A location that is missing or
  // unreadable leaves it with fewer certificates (possibly none), so chains
  // fail as untrusted rather than the call failing. Null only when OpenSSL
  // cannot allocate a store. Owned by this object.
  X509_STORE* Get();

  // Whether Get() has loaded the store yet.
  bool loaded() const { return loaded_; }

 private:
  TrustAnchors(bool defaults, std::string pem_file)
      : defaults_(defaults), pem_file_(std::move(pem_file)) {}

  bool defaults_;
  std::string pem_file_;  // empty: none
  bool loaded_ = false;
  ossl::X509StorePtr store_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_

// The certificates a signature's chain must end in, loaded once per run and
// only when a file first needs them.
#ifndef SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_
#define SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_

#include <openssl/x509_vfy.h>

#include <memory>
#include <optional>
#include <string>

#include "authenticode/openssl_ptr.h"
#include "authenticode/windows_roots.h"

namespace sealprobe {

class TrustAnchors {
 public:
  enum class Source {
    kSystem,              // OpenSSL's default store
    kPemFile,             // a PEM file only
    kSystemAndPemFile,    // both
    kWindowsRootProgram,  // a folder exported from Windows, only
  };

  // OpenSSL's default locations, as X509_STORE_set_default_paths finds
  // them: SSL_CERT_FILE and SSL_CERT_DIR override the built-in ones.
  static TrustAnchors SystemDefault() {
    return TrustAnchors(Source::kSystem, {});
  }

  // Only the certificates in the PEM file `pem_file` ("TRUSTED CERTIFICATE"
  // blocks keep their trust settings).
  static TrustAnchors FromFile(std::string pem_file) {
    return TrustAnchors(Source::kPemFile, std::move(pem_file));
  }

  // The default locations and the certificates in `pem_file` besides.
  static TrustAnchors SystemDefaultAnd(std::string pem_file) {
    return TrustAnchors(Source::kSystemAndPemFile, std::move(pem_file));
  }

  // Windows' root program as exported to `folder` (WindowsRoots::Load),
  // and nothing else: when the folder does not load, no chain is trusted.
  static TrustAnchors WindowsRootProgram(std::string folder) {
    return TrustAnchors(Source::kWindowsRootProgram, std::move(folder));
  }

  // The folder of the environment variable SEALPROBE_WINDOWS_TRUST when it
  // is set and not empty; SystemDefault() otherwise.
  static TrustAnchors FromEnvironment();

  TrustAnchors(TrustAnchors&&) = default;
  TrustAnchors& operator=(TrustAnchors&&) = default;

  // The store, loaded on the first call. A PEM file or default location
  // that is missing or unreadable leaves it with fewer certificates
  // (possibly none), so chains fail as untrusted rather than the call
  // failing. Null when OpenSSL cannot allocate a store, and when Windows'
  // root program does not load (load_error() says why). Owned by this
  // object.
  X509_STORE* Get();

  // Whether Get() has loaded the store yet.
  bool loaded() const { return loaded_; }

  Source source() const { return source_; }
  // The PEM file or the folder; empty for kSystem.
  const std::string& location() const { return location_; }

  // Once loaded: the root program, when this is one and it loaded.
  const WindowsRoots* windows_roots() const { return windows_.get(); }
  // Once loaded: why the root program's folder did not load.
  const std::optional<TrustLoadError>& load_error() const {
    return load_error_;
  }

 private:
  TrustAnchors(Source source, std::string location)
      : source_(source), location_(std::move(location)) {}

  Source source_;
  std::string location_;
  bool loaded_ = false;
  ossl::X509StorePtr store_;
  std::unique_ptr<WindowsRoots> windows_;
  std::optional<TrustLoadError> load_error_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_

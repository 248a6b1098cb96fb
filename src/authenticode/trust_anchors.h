// The certificates a signature's chain must end in, loaded once per run and
// only when a file first needs them.
#ifndef SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_
#define SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_

#include <openssl/x509_vfy.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/openssl_ptr.h"
#include "authenticode/root_program/windows_roots.h"

namespace sealprobe {

// The certificates of a PEM file of anchors (--anchors), opened without
// blocking (a FIFO or device under the name is no file), a regular file of
// at most kMaxPemAnchorsBytes; "TRUSTED CERTIFICATE" blocks keep their
// trust settings.
struct PemAnchors {
  enum class Fault {
    kNone,
    kUnreadable,      // it does not open or read: `error` is errno
    kNotRegularFile,  // a folder, FIFO, device or socket
    kTooLarge,        // over kMaxPemAnchorsBytes
    kNotPem,          // it does not decode as PEM
    kNoCertificate,   // it decodes, but holds no certificate
  };
  Fault fault = Fault::kNone;
  int error = 0;
  std::vector<ossl::X509Ptr> certificates;
};
inline constexpr size_t kMaxPemAnchorsBytes = size_t{16} << 20;
PemAnchors ReadPemAnchors(const std::string& path);

// What the environment says of trust, read once for a run: the one read of
// SEALPROBE_WINDOWS_TRUST, and whether sealprobe-roots has synced Windows'
// root program to its default folder.
struct TrustEnvironment {
  bool set = false;    // SEALPROBE_WINDOWS_TRUST is set, perhaps empty
  std::string folder;  // its value
  // DefaultWindowsTrustFolder() when it holds a root list; empty else.
  std::string synced;
};
TrustEnvironment ReadTrustEnvironment();

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

  // The folder SEALPROBE_WINDOWS_TRUST names; with it unset, the folder
  // sealprobe-roots syncs to when it holds a root list; SystemDefault()
  // otherwise, and when the variable is set but empty.
  static TrustAnchors FromEnvironment(const TrustEnvironment& environment);
  static TrustAnchors FromEnvironment() {
    return FromEnvironment(ReadTrustEnvironment());
  }

  TrustAnchors(TrustAnchors&&) = default;
  TrustAnchors& operator=(TrustAnchors&&) = default;

  // The store, loaded on the first call. A PEM file or default location
  // that is missing or unreadable leaves it with fewer certificates
  // (possibly none), so chains fail as untrusted rather than the call
  // failing. Null when OpenSSL cannot allocate a store, and when Windows'
  // root program does not load (load_error() says why). Owned by this
  // object. Several threads may call it, and verify with the store, at
  // once: the first call loads it, the others wait for that.
  X509_STORE* Get();

  // Whether Get() has loaded the store yet.
  bool loaded() const { return state_->loaded.load(std::memory_order_acquire); }

  Source source() const { return source_; }
  // The PEM file or the folder; empty for kSystem.
  const std::string& location() const { return location_; }

  // Once loaded: the root program, when this is one and it loaded; null
  // before.
  const WindowsRoots* windows_roots() const;
  // Once loaded: why the root program's folder did not load; nothing
  // before.
  const std::optional<TrustLoadError>& load_error() const;

 private:
  // What loading makes, written once under `once` and only read after.
  struct State {
    std::once_flag once;
    std::atomic<bool> loaded{false};
    ossl::X509StorePtr store;
    std::unique_ptr<WindowsRoots> windows;
    std::optional<TrustLoadError> load_error;
  };

  TrustAnchors(Source source, std::string location)
      : source_(source),
        location_(std::move(location)),
        state_(std::make_unique<State>()) {}

  void Load();

  Source source_;
  std::string location_;
  // On the heap, so that the object stays movable.
  std::unique_ptr<State> state_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_TRUST_ANCHORS_H_

// The root certificates a chain may end in, as an OpenSSL store that reads
// and decodes each one the first time a chain asks for its subject:
// decoding a certificate's key costs far more than reading the whole
// folder, and holding every root's DER costs more memory than the rest of
// a run.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ANCHOR_STORE_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ANCHOR_STORE_H_

#include <openssl/x509_vfy.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "authenticode/certificate_bytes.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/root_program/root_folder.h"
#include "file_descriptor.h"

namespace sealprobe {

// At most this many roots share a subject. Microsoft's list has at most
// two (a root re-issued under the same name); a chain's issuer lookup
// decodes every root of that subject, so more would only cost time.
inline constexpr size_t kMaxAnchorsPerSubject = 8;

class AnchorStore {
 public:
  enum class Fault {
    kNone,
    kSubject,      // a certificate's subject does not decode
    kSameSubject,  // more than kMaxAnchorsPerSubject share a subject
    kNoMemory,     // OpenSSL cannot make the store
  };

  // The store over `bodies`, the roots of the folder `opened`
  // (ReadRootFolder); null (and `fault` set) when it cannot be made. A root
  // whose file no longer holds it when a chain asks anchors nothing.
  static std::unique_ptr<AnchorStore> Make(
      std::shared_ptr<const FileDescriptor> opened,
      std::vector<RootBody> bodies, Fault* fault);

  AnchorStore(const AnchorStore&) = delete;
  AnchorStore& operator=(const AnchorStore&) = delete;

  // Owned by this object. May be used from several threads at once.
  X509_STORE* store() const { return store_.get(); }
  size_t size() const { return anchors_->bodies.size(); }
  // Whether a root of this SHA-1 (of its DER) is in it.
  bool Holds(const Sha1& sha1) const { return anchors_->sha1s.count(sha1); }

  // A store of its own that finds the same roots and `extra` besides
  // (borrowed: the store takes its own references); null when OpenSSL
  // cannot make one.
  ossl::X509StorePtr StoreWith(const std::vector<X509*>& extra) const;

 private:
  struct LookupMethodDeleter {
    void operator()(X509_LOOKUP_METHOD* p) const noexcept {
      X509_LOOKUP_meth_free(p);
    }
  };
  // Where a root is, and the certificate once read and decoded.
  struct Body {
    RootBody where;
    bool read = false;
    ossl::X509Ptr cert;
  };
  // The roots, which lookups decode as chains ask for them, from whichever
  // thread builds the chain.
  struct Anchors {
    std::mutex mutex;  // held while a lookup reads a Body or its cert
    std::shared_ptr<const FileDescriptor> opened;  // the folder
    std::vector<Body> bodies;
    // Indices into bodies, by X509_NAME_hash_ex of the subject.
    std::multimap<unsigned long, size_t> by_subject;
    std::set<Sha1> sha1s;  // of the bodies' DER
  };

  AnchorStore() = default;
  // A store that finds the roots through LookUp; null when OpenSSL cannot
  // make one.
  ossl::X509StorePtr NewStore() const;
  // The store's lookup: the roots whose subject is `name`, decoded and
  // added to the lookup's store. OpenSSL calls it without holding the
  // store's lock.
  static int LookUp(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type,
                    const X509_NAME* name, X509_OBJECT* found);

  // Declared before the store, which uses them, so that they outlive it.
  std::unique_ptr<X509_LOOKUP_METHOD, LookupMethodDeleter> method_;
  std::unique_ptr<Anchors> anchors_ = std::make_unique<Anchors>();
  ossl::X509StorePtr store_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ANCHOR_STORE_H_

// Windows' root program, read from a folder the user exported on Windows
// (certutil -syncWithWU DIR, certutil -generateSSTFromWU FILE): which roots
// a chain may end in, what each may serve, and which certificates are
// disallowed outright. Used instead of OpenSSL's store, never beside it.
#ifndef SEALPROBE_AUTHENTICODE_WINDOWS_ROOTS_H_
#define SEALPROBE_AUTHENTICODE_WINDOWS_ROOTS_H_

#include <openssl/x509_vfy.h>

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "authenticode/cabinet.h"
#include "authenticode/chain_problem.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/serialized_store.h"
#include "authenticode/trust_list.h"

namespace sealprobe {

// The caps on what a folder may hold.
struct FolderLimits {
  size_t files = 10000;
  size_t file_bytes = size_t{16} << 20;
  size_t folder_bytes = size_t{256} << 20;
  size_t certificate_bytes = size_t{1} << 20;  // a *.crt
};

// Why a folder does not load.
enum class LoadFault {
  kNone,
  kNotAFolder,           // there is no folder there
  kFolderUnreadable,     // it cannot be listed: `detail` is the system's
                         // reason
  kTooManyFiles,         // more than FolderLimits::files
  kNoRootList,           // neither authroot.stl nor authrootstl.cab
  kFileUnreadable,       // the file cannot be read
  kFileOverCap,          // over FolderLimits::file_bytes, or the folder
                         // over folder_bytes with it
  kCabinet,              // no list `detail` out of the cabinet: `cause`
  kListsDiffer,          // the cabinet holds another list `detail` than
                         // the bare one
  kTrustList,            // not a valid trust list: `cause`
  kStore,                // not a valid serialized store: `cause`
  kCertificateTooLarge,  // a *.crt over FolderLimits::certificate_bytes
  kNotACertificate,      // a *.crt that is not one DER certificate
  kStoreCertificate,     // certificate `index` (from 1) of a store does not
                         // decode
  kRootSubject,          // a root whose subject does not decode
  kNoMemory,
};

struct TrustLoadError {
  std::string file;  // the file at fault, or the folder itself
  LoadFault fault = LoadFault::kNone;
  std::string detail;
  size_t index = 0;
  std::variant<std::monostate, CabinetError, TrustListError, StoreError> cause;
};

// A root Windows trusts whatever the CTL says of it (it keeps these in its
// own Root store, KB293781), and what for. The certificate itself has to
// come from the folder or the signature: this is its SHA-1 and its uses.
struct BuiltInRoot {
  Sha1 sha1;
  bool code_signing;
  bool time_stamping;
};
const std::vector<BuiltInRoot>& BuiltInRoots();

class WindowsRoots {
 public:
  // The folder at `folder`: the root list (authroot.stl, or authroot.stl
  // inside authrootstl.cab; both must agree), root certificates as DER
  // *.crt files and in *.sst serialized stores, and optionally the
  // Disallowed list (disallowedcert.stl or disallowedcertstl.cab, and the
  // certificates of disallowedcert.sst). Other files are ignored. Fails on
  // a folder that cannot be read or holds no root list, on a list, store,
  // cabinet or certificate that is malformed or over a cap, and on a folder
  // over its FolderLimits.
  static std::unique_ptr<WindowsRoots> Load(const std::string& folder,
                                            TrustLoadError* error);

  // The anchors: the listed roots and the built-in ones whose certificates
  // the folder holds. Owned by this object. Each is decoded the first time
  // a chain asks for its subject: decoding a certificate's key costs far
  // more than reading the whole folder. Every member function may be
  // called from several threads at once.
  X509_STORE* store() const { return store_.get(); }

  const TrustList& roots() const { return roots_; }
  size_t anchor_count() const { return anchors_->bodies.size(); }

  // The store for chains of a signature that carries `carried`: null when
  // store() serves, else one of its own that also holds the self-signed
  // certificates of `carried` that are listed or built-in roots the folder
  // lacks (Windows fetches a listed root it lacks by its SHA-1, and has the
  // built-in ones, so a copy with that digest is the same certificate).
  // Such a root anchors only the signature that carries it, so no file's
  // verdict depends on which files were verified before it.
  ossl::X509StorePtr StoreWithCarriedRoots(const STACK_OF(X509) *
                                           carried) const;

  // The faults the root program finds on `chain` (end certificate first),
  // built for `use` and judged as of `when` (the timestamp's time, else
  // now): a certificate in the Disallowed list; the root's usage list
  // leaving out the use; certificates issued under it on or after its
  // NotBefore date; a signature made on or after its Disable date.
  void Check(const STACK_OF(X509) * chain, ChainUse use, std::time_t when,
             std::vector<ChainProblem>* problems) const;

  // How `anchor` came to be trusted: built in, else listed (kStore: it is
  // neither, which no anchor of this store is).
  AnchorSource SourceOf(X509* anchor) const;

 private:
  struct LookupMethodDeleter {
    void operator()(X509_LOOKUP_METHOD* p) const noexcept {
      X509_LOOKUP_meth_free(p);
    }
  };
  // An anchor's DER, and the certificate once decoded.
  struct Body {
    std::vector<uint8_t> der;
    ossl::X509Ptr cert;
  };

  // The anchors' certificates, which lookups decode as chains ask for them,
  // from whichever thread builds the chain.
  struct Anchors {
    std::mutex mutex;  // held while a lookup decodes or reads a Body's cert
    std::vector<Body> bodies;
    // Indices into bodies, by X509_NAME_hash_ex of the subject.
    std::multimap<unsigned long, size_t> by_subject;
    std::set<Sha1> sha1s;  // of the bodies' DER
  };

  WindowsRoots() = default;
  // Indexes `bodies`, the folder's certificates, that the lists trust;
  // false when one's subject does not decode.
  bool AddAnchors(std::vector<std::vector<uint8_t>> bodies);
  // The lookup method and store(); false when OpenSSL cannot make them.
  bool MakeStore();
  // A store that finds the anchors through LookUp; null when OpenSSL
  // cannot make one.
  ossl::X509StorePtr NewStore() const;
  // The store's lookup: the anchors whose subject is `name`, decoded and
  // added to the lookup's store. OpenSSL calls it without holding the
  // store's lock.
  static int LookUp(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type,
                    const X509_NAME* name, X509_OBJECT* found);

  // Declared before the stores, which use them, so that they outlive them.
  std::unique_ptr<X509_LOOKUP_METHOD, LookupMethodDeleter> method_;
  std::unique_ptr<Anchors> anchors_ = std::make_unique<Anchors>();
  ossl::X509StorePtr store_;
  TrustList roots_;
  std::set<Sha1> disallowed_;
};

// The SHA-1 of `cert`'s DER.
Sha1 Sha1Of(X509* cert);

// The subject Name (its whole DER) of the certificate whose DER is the
// `size` bytes at `der`, read without decoding the certificate; false
// when those bytes are not one certificate's outline.
bool CertificateSubject(const uint8_t* der, size_t size,
                        std::vector<uint8_t>* subject);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_WINDOWS_ROOTS_H_

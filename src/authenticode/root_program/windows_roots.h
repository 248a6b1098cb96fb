// Windows' root program, read from a folder that sealprobe-roots fetched
// or that certutil -syncWithWU exported on Windows: which roots a chain
// may end in, what each may serve, and which certificates are disallowed
// outright. Used instead of OpenSSL's store, never beside it.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_WINDOWS_ROOTS_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_WINDOWS_ROOTS_H_

#include <openssl/x509_vfy.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/chain_problem.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/root_program/anchor_store.h"
#include "authenticode/root_program/root_folder.h"
#include "authenticode/root_program/root_rules.h"

namespace sealprobe {

class WindowsRoots {
 public:
  // The folder at `folder` (ReadRootFolder), its roots made anchors.
  // Fails as ReadRootFolder does, and on roots AnchorStore refuses.
  static std::unique_ptr<WindowsRoots> Load(const std::string& folder,
                                            TrustLoadError* error);

  // The anchors: the listed roots and the built-in ones whose certificates
  // the folder holds. Owned by this object. Every member function may be
  // called from several threads at once.
  X509_STORE* store() const { return anchors_->store(); }

  const TrustList& roots() const { return rules_.roots(); }
  size_t anchor_count() const { return anchors_->size(); }
  bool has_disallowed_list() const { return rules_.has_disallowed_list(); }
  const std::optional<FolderOrigin>& origin() const { return origin_; }

  // The store for chains of a signature that carries `carried`: null when
  // store() serves, else one of its own that also holds the self-signed
  // certificates of `carried` that are listed or built-in roots the folder
  // lacks (Windows fetches a listed root it lacks by its SHA-1, and has the
  // built-in ones, so a copy with that digest is the same certificate).
  // Such a root anchors only the signature that carries it, so no file's
  // verdict depends on which files were verified before it.
  ossl::X509StorePtr StoreWithCarriedRoots(const STACK_OF(X509) *
                                           carried) const;

  // RootRules::Check and SourceOf.
  void Check(const STACK_OF(X509) * chain, ChainUse use, std::time_t when,
             std::vector<ChainProblem>* problems) const {
    rules_.Check(chain, use, when, problems);
  }
  AnchorSource SourceOf(X509* anchor) const { return rules_.SourceOf(anchor); }

 private:
  WindowsRoots(RootRules rules, std::unique_ptr<AnchorStore> anchors,
               std::optional<FolderOrigin> origin)
      : rules_(std::move(rules)),
        anchors_(std::move(anchors)),
        origin_(std::move(origin)) {}

  RootRules rules_;
  std::unique_ptr<AnchorStore> anchors_;
  std::optional<FolderOrigin> origin_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_WINDOWS_ROOTS_H_

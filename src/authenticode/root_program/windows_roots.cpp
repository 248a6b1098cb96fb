#include "authenticode/root_program/windows_roots.h"

#include <openssl/x509v3.h>

namespace sealprobe {

std::unique_ptr<WindowsRoots> WindowsRoots::Load(const std::string& folder,
                                                 TrustLoadError* error) {
  std::optional<RootFolder> read = ReadRootFolder(
      folder, [](const Sha1& sha1) { return FindBuiltInRoot(sha1) != nullptr; },
      error);
  if (!read) return nullptr;
  RootRules rules(std::move(read->roots), std::move(read->disallowed),
                  std::move(read->disallowed_certificates));
  AnchorStore::Fault fault = AnchorStore::Fault::kNone;
  std::unique_ptr<AnchorStore> anchors =
      AnchorStore::Make(read->opened, std::move(read->bodies), &fault);
  if (!anchors) {
    error->file = folder;
    error->fault =
        fault == AnchorStore::Fault::kSubject       ? LoadFault::kRootSubject
        : fault == AnchorStore::Fault::kSameSubject ? LoadFault::kSameSubject
                                                    : LoadFault::kNoMemory;
    return nullptr;
  }
  return std::unique_ptr<WindowsRoots>(new WindowsRoots(
      std::move(rules), std::move(anchors), std::move(read->origin)));
}

ossl::X509StorePtr WindowsRoots::StoreWithCarriedRoots(const STACK_OF(X509) *
                                                       carried) const {
  std::vector<X509*> adopted;
  for (int i = 0; i < sk_X509_num(carried); ++i) {
    X509* cert = sk_X509_value(carried, i);
    if ((X509_get_extension_flags(cert) & EXFLAG_SS) == 0) continue;
    const Sha1 sha1 = Sha1Of(cert);
    if (rules_.Trusts(sha1) && !anchors_->Holds(sha1)) adopted.push_back(cert);
  }
  if (adopted.empty()) return nullptr;
  // Without a store of its own, the roots are not adopted, as if the
  // signature did not carry them.
  return anchors_->StoreWith(adopted);
}

}  // namespace sealprobe

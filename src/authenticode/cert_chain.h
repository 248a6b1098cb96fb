// Certificate chains and key usage, judged the way the Windows chain engine
// reports them for a code signature: no revocation, nothing fetched.
#ifndef SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_
#define SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "authenticode/chain_problem.h"
#include "authenticode/openssl_ptr.h"

namespace sealprobe {

// The status a fault gives.
uint32_t StatusOf(ChainFault fault);

// A chain as it was built and judged.
struct ChainResult {
  ChainUse use = ChainUse::kCodeSigning;
  std::time_t when = 0;  // the time it was judged as of
  // 0 when the chain is trusted, otherwise StatusOf the deciding problem.
  uint32_t status = 0;
  // The chain as built, end certificate first, as far as it got. Holds its
  // own references.
  ossl::X509StackPtr chain;
  // Every fault found, on every certificate, in the order found.
  std::vector<ChainProblem> problems;
  // The one that decided `status`: the first of the first kind, nearest the
  // end certificate. Null when the chain is trusted.
  const ChainProblem* deciding() const {
    return deciding_index < 0 ? nullptr : &problems[deciding_index];
  }
  int deciding_index = -1;
  // The depth of the anchor the chain ends in, the certificate that came
  // from the store, and how the store trusts it; -1 when it ends in none.
  int anchor_depth = -1;
  AnchorSource anchor_source = AnchorSource::kStore;

  // The certificate at `depth` of the chain; null outside it.
  X509* CertificateAt(int depth) const;
  // The problems found on the certificate at `depth`, in the order found;
  // with -1, those of the chain as a whole (or of no certificate it holds).
  std::vector<const ChainProblem*> ProblemsAt(int depth) const;
};

class WindowsRoots;

// Builds and verifies the chain from `leaf` through the certificates in
// `untrusted` (may be null) to an anchor in `store`, as of `when`, and
// finds every fault of ChainFault's on it. With `program`, `store` is its
// store: the roots `untrusted` carries that it lists anchor this chain too
// (WindowsRoots::StoreWithCarriedRoots), and its properties judge the chain
// (WindowsRoots::Check). When that chain fails and `untrusted` holds a
// cross-certificate for the self-signed certificate it ended in, the chain
// is built again through it, and that one is returned if nothing on it
// fails. Safe to call from several threads at once with the same store and
// program.
ChainResult CheckCertificateChain(X509* leaf, STACK_OF(X509) * untrusted,
                                  X509_STORE* store, std::time_t when,
                                  ChainUse use,
                                  const WindowsRoots* program = nullptr);

// What a certificate's extended key usage names, of what Windows asks of it.
struct ExtendedKeyUsage {
  bool present = false;  // the extension is there (a malformed one names
                         // nothing)
  bool code_signing = false;
  bool time_stamping = false;
  // 1.3.6.1.4.1.311.10.3.13: the certificate's signatures do not outlive
  // it, timestamp or not.
  bool lifetime_signing = false;
};
ExtendedKeyUsage ReadExtendedKeyUsage(X509* cert);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_

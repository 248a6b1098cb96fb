// Certificate chains and key usage, judged the way the Windows chain engine
// reports them for a code signature: no revocation, nothing fetched.
#ifndef SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_
#define SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {

// What the end certificate of a chain is used for.
enum class ChainUse {
  kCodeSigning,   // the signer: an extended key usage, if any, names code
                  // signing
  kTimeStamping,  // a time-stamping authority: its certificate must name
                  // time stamping
};

// A fault found in a chain. When a chain has several, the first kind in this
// list decides its status, in the order of Windows' base chain policy.
enum class ChainFault {
  // TRUST_E_EXPLICIT_DISTRUST: a chain certificate, or its copy in the
  // store, is rejected for this use or any use.
  kDistrusted,
  // TRUST_E_CERT_SIGNATURE: a certificate's signature does not verify, a
  // chain certificate (anchor included) has a key ClassifyKey (key_policy.h)
  // does not accept, or one below the anchor is signed with MD5, MD4 or MD2.
  kCertSignature,
  // CERT_E_UNTRUSTEDROOT: the chain ends in a self-signed certificate that
  // is not an anchor.
  kUntrustedRoot,
  // CERT_E_CHAINING: an issuer cannot be found.
  kChaining,
  // CERT_E_WRONG_USAGE: a chain certificate's extended key usage leaves out
  // the use, the store trusts an anchor only for other uses, an issuer's
  // key usage leaves out certificate signing, or the end certificate's key
  // usage asserts it without basic constraints naming it a CA.
  kWrongUsage,
  // CERT_E_EXPIRED: a chain certificate is outside its validity.
  kExpired,
  // CERT_E_INVALID_POLICY: RFC 5280 policy processing fails: an explicit
  // policy is required and none is valid for the whole path, a policy
  // extension is invalid, or the policy tree grows past what the chain
  // engine processes.
  kPolicy,
  // TRUST_E_BASIC_CONSTRAINTS: an issuer is not a CA, or a path is too long.
  kBasicConstraints,
  // CERT_E_CRITICAL: a critical extension outside keyUsage, subjectAltName,
  // basicConstraints, nameConstraints, certificatePolicies, policyMappings,
  // policyConstraints, extKeyUsage and inhibitAnyPolicy.
  kCritical,
  // CERT_E_INVALID_NAME: a name, in the subject, the subjectAltName or the
  // legacy subjectAltName (2.5.29.7), is outside an issuer's permitted
  // subtrees or inside its excluded ones; a name or constraint cannot be
  // checked; an issuer's constraints hold a form Windows does not support
  // (CheckNameConstraints, name_constraints.h); or matching the chain's
  // names against its constraints takes more than kMaxNameConstraintWork.
  kInvalidName,
  // CERT_E_CHAINING: any other failure of the chain engine.
  kOther,
};

// The status a fault gives.
uint32_t StatusOf(ChainFault fault);

struct ChainProblem {
  // The certificate it was found on: 0 for the end certificate, counting up
  // the chain; -1 for the chain as a whole.
  int depth = -1;
  ChainFault fault = ChainFault::kOther;
  std::string detail;  // what is wrong, in words
  // When a property of Windows' root program found it (WindowsRoots): its
  // name ("EKU", "NotBefore", "Disable", "Disallowed", "built-in root"),
  // and its date when it has one.
  std::string property;
  std::optional<std::time_t> property_date;
};

struct ChainResult {
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
  // from the store; -1 when it ends in none.
  int anchor_depth = -1;
};

class WindowsRoots;

// Builds and verifies the chain from `leaf` through the certificates in
// `untrusted` (may be null) to an anchor in `store`, as of `when`, and
// finds every fault of ChainFault's on it. With `program`, `store` is its
// store: the roots `untrusted` carries that it lists anchor this chain too
// (WindowsRoots::StoreWithCarriedRoots), and its properties judge the chain
// (WindowsRoots::Check). Safe to call from several threads at once with
// the same store and program.
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

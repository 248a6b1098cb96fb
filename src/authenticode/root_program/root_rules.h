// What Windows' root program says of a chain: which roots it trusts and
// for what, and which certificates it disallows outright.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ROOT_RULES_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ROOT_RULES_H_

#include <openssl/x509.h>

#include <ctime>
#include <optional>
#include <set>
#include <vector>

#include "authenticode/certificate_bytes.h"
#include "authenticode/chain_problem.h"
#include "authenticode/root_program/trust_list.h"

namespace sealprobe {

// A root Windows trusts whatever the CTL says of it (it keeps these in its
// own Root store, KB293781), and what for. The certificate itself has to
// come from the folder or the signature: this is its SHA-1 and its uses.
struct BuiltInRoot {
  Sha1 sha1;
  bool code_signing;
  bool time_stamping;
};
const std::vector<BuiltInRoot>& BuiltInRoots();
// The built-in root of this SHA-1 (of its DER); null for any other.
const BuiltInRoot* FindBuiltInRoot(const Sha1& sha1);

class RootRules {
 public:
  // `roots` is the root list; `disallowed` the Disallowed list, if any;
  // `disallowed_certificates` the SHA-1s of disallowedcert.sst's.
  RootRules(TrustList roots, std::optional<TrustList> disallowed,
            std::set<Sha1> disallowed_certificates);

  const TrustList& roots() const { return roots_; }
  bool has_disallowed_list() const { return disallowed_.has_value(); }

  // Whether a certificate of this SHA-1 (of its DER) may anchor a chain:
  // the list names it, or it is built in.
  bool Trusts(const Sha1& sha1) const;

  // How `anchor` came to be trusted: built in, else listed (kStore: it is
  // neither).
  AnchorSource SourceOf(X509* anchor) const;

  // The faults the root program finds on `chain` (end certificate first),
  // built for `use` and judged as of `when` (the timestamp's time, else
  // now): a certificate the Disallowed list or certificates name; the
  // root's usage list leaving out the use; certificates issued under it on
  // or after its NotBefore date; a signature made on or after its Disable
  // date. Certificates are known by the bytes they came in
  // (certificate_bytes.h).
  void Check(const STACK_OF(X509) * chain, ChainUse use, std::time_t when,
             std::vector<ChainProblem>* problems) const;

 private:
  bool Disallows(X509* cert) const;

  TrustList roots_;
  std::optional<TrustList> disallowed_;
  std::set<Sha1> disallowed_certificates_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ROOT_RULES_H_

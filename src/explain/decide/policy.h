// A release's own rules, on top of Windows' verdict: whose certificate must
// have signed, or what that certificate must carry or chain to (pins that
// outlive a renewal), whether a timestamp is required, whether every
// signature of a file must be valid or only the primary, which Windows
// decides by, and whether a file sealprobe cannot verify may pass.
#ifndef SEALPROBE_EXPLAIN_DECIDE_POLICY_H_
#define SEALPROBE_EXPLAIN_DECIDE_POLICY_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/verification.h"

namespace sealprobe {

struct Policy {
  // SHA-1 (20 octets) or SHA-256 (32 octets) digests of certificates'
  // DER: when any is given, a signer's certificate must be one of these.
  std::vector<std::vector<uint8_t>> signers;
  // Object identifiers in dotted decimal (ParseObjectIdentifier): when any
  // is given, a signer's certificate must name one of them in its extended
  // key usage.
  std::vector<std::string> signer_ekus;
  // SHA-1 or SHA-256 digests of certificates' DER: when any is given, a
  // certificate above the signer's in its chain as built (an intermediate,
  // or the root) must be one of these.
  std::vector<std::vector<uint8_t>> chain_includes;
  bool require_timestamp = false;
  // Every signature must be valid and meet the rules above, not only the
  // primary.
  bool all_signatures = false;
  // A file of a kind Windows signs that sealprobe does not verify passes,
  // listed as not checked, rather than failing (file_kind.h).
  bool allow_unsupported = false;

  bool empty() const {
    return signers.empty() && signer_ekus.empty() && chain_includes.empty() &&
           !require_timestamp && !all_signatures && !allow_unsupported;
  }
};

// A certificate digest as a person copies it: 40 or 64 hexadecimal digits,
// either case, optionally in pairs separated by ':' (as `openssl x509
// -fingerprint` prints them). nullopt for anything else.
std::optional<std::vector<uint8_t>> ParseCertificateDigest(
    const std::string& text);

// An object identifier as a person writes it, "1.3.6.1.4.1.311.97.1", in
// its canonical dotted decimal; nullopt for anything that is not one.
std::optional<std::string> ParseObjectIdentifier(const std::string& text);

// The first rule of a Policy a file fails.
struct PolicyFault {
  enum class Kind {
    kSignerNotPinned,     // its certificate is none of Policy::signers
    kSignerEkuNotPinned,  // its certificate names none of
                          // Policy::signer_ekus
    kChainNotPinned,      // its chain holds none of Policy::chain_includes
                          // above it
    kNoTimestamp,         // it carries no valid timestamp
    kSignatureInvalid,    // a signature other than the primary is not valid
  };
  Kind kind;
  size_t signature;  // which: an index into the file's signatures
};

// The first rule of `policy` that `signatures` (the file's, the primary
// first) fail, taking the signatures in order and, for each, its validity
// (the primary's is Windows' verdict and never a policy fault), then its
// signer, its signer's extended key usage, its chain, then its timestamp;
// only the primary unless
// Policy::all_signatures. Nothing when the primary is not valid: Windows'
// verdict then decides the file.
std::optional<PolicyFault> CheckPolicy(
    const std::vector<Verification>& signatures, const Policy& policy);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_POLICY_H_

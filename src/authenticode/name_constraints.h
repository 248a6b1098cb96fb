// Name constraints where OpenSSL's own check is not enough to judge a chain
// the way Windows' chain engine does: the subtree forms Windows does not
// support, the legacy subjectAltName (2.5.29.7) that Windows reads and
// OpenSSL does not, and a bound on the work of matching a chain's names
// against its constraints, decided before OpenSSL does that work.
#ifndef SEALPROBE_AUTHENTICODE_NAME_CONSTRAINTS_H_
#define SEALPROBE_AUTHENTICODE_NAME_CONSTRAINTS_H_

#include <openssl/x509.h>

#include <cstdint>
#include <vector>

#include "authenticode/chain_problem.h"

namespace sealprobe {

// The most work, in the units of NameConstraintWork, that matching one
// chain's names against its name constraints may take.
inline constexpr uint64_t kMaxNameConstraintWork = uint64_t{1} << 18;

// The work of matching the names of `chain` (end certificate first) against
// the name constraints of the certificates above them, as OpenSSL and
// CheckNameConstraints match them: for each certificate, and each one above
// it with name constraints, its names (every value of every relative name
// of its subject, counted twice for the end certificate, whose common names
// are also matched as DNS names; every name of its subjectAltName, 2.5.29.17
// and 2.5.29.7) times the subtrees of those constraints, one unit each, plus
// a unit for every 16 octets those matches could compare between them.
uint64_t NameConstraintWork(const STACK_OF(X509) * chain);

// The name faults of `chain` (end certificate first) that OpenSSL's check
// does not find, each a CERT_E_INVALID_NAME on Windows:
//  - an issuer whose name constraints hold a subtree of a form Windows does
//    not support: a registeredID, ediPartyName, x400Address or an otherName
//    other than a user principal name, a nonzero minimum, or any maximum;
//    whatever names the certificates below it carry;
//  - a name in the legacy subjectAltName (2.5.29.7) of a certificate that
//    the constraints of an issuer above it do not allow, matched as OpenSSL
//    matches the names of 2.5.29.17, or such an extension that does not
//    decode below an issuer with name constraints.
// Each is a ChainFault::kInvalidName at the certificate's depth, its
// Finding kUnsupportedConstraint, kLegacyAltNameUndecodable or
// kLegacyAltNameOutside. Costs at most NameConstraintWork(chain).
std::vector<ChainProblem> CheckNameConstraints(const STACK_OF(X509) * chain);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_NAME_CONSTRAINTS_H_

// What judging a certificate chain finds, as values: each fault with the
// check that found it and that check's parameters, never in words
// (sealprobe-explain says them). Shared by the chain engine (cert_chain.h),
// the name checks (name_constraints.h) and Windows' root program
// (windows_roots.h).
#ifndef SEALPROBE_AUTHENTICODE_CHAIN_PROBLEM_H_
#define SEALPROBE_AUTHENTICODE_CHAIN_PROBLEM_H_

#include <ctime>
#include <optional>

namespace sealprobe {

// What the end certificate of a chain is used for.
enum class ChainUse {
  kCodeSigning,   // the signer: an extended key usage, if any, names code
                  // signing
  kTimeStamping,  // a time-stamping authority: its certificate must name
                  // time stamping
};

// The status class of a fault. When a chain has several, the first kind in
// this list decides its status, in the order of Windows' base chain policy.
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

// Which check found a fault, and so which of ChainProblem's parameters it
// sets.
enum class Finding {
  // OpenSSL's chain engine: `x509_error` is its X509_V_ERR_* code.
  kEngineError,
  kNotStarted,    // no chain could be started
  kEngineFailed,  // the engine failed without saying why
  // The store's trust settings: it trusts the anchor only for other uses;
  // it rejects the certificate for this use.
  kStoreTrustsOtherUses,
  kStoreRejects,
  // Keys and signatures, as key_policy.h classifies them.
  kWeakRsaKey,           // an RSA key under 1024 bits
  kUnsupportedKey,       // a key Windows cannot verify signatures with
  kBrokenDigest,         // signed with MD5, MD4 or MD2
  kUnhandledCritical,    // a critical extension Windows does not handle
  kEndCertificateSigns,  // an end certificate's key usage claims
                         // certificate signing, but it is no CA
  kIssuerCannotSign,     // an issuer's key usage leaves out certificate
                         // signing
  kUseNotInEku,          // its extended key usage leaves out the use
  kNoTimeStampingEku,    // a time-stamping authority without one
  kPolicyTreeTooLarge,   // past the nodes the chain engine processes
  // Names (name_constraints.h).
  kNameWorkOverBudget,        // the chain: over kMaxNameConstraintWork
  kUnmatchableName,           // a name of it OpenSSL cannot match against
                              // the constraints above it
  kUnsupportedConstraint,     // its constraints hold a form Windows does
                              // not support
  kLegacyAltNameUndecodable,  // its 2.5.29.7 does not decode, below an
                              // issuer that constrains names
  kLegacyAltNameOutside,      // a name of its 2.5.29.7 is refused:
                              // `x509_error` says how
  // Windows' root program (windows_roots.h), on the root unless said.
  kDisallowed,            // the certificate is in the Disallowed list
  kBuiltInRootOtherUses,  // a built-in root, trusted for other uses
  kEkuProperty,           // its EKU property leaves out the use
  // Its NotBefore property, `date`, distrusts certificates issued from
  // then on (for the use only, with `for_use_only`), and the one at
  // `cause_depth` was.
  kNotBeforeProperty,
  kNotBeforeUseWithoutDate,  // its NotBefore usages list the use, no date
  // Its Disable property, `date`, distrusts signatures made from then on
  // (for the use only, with `for_use_only`), and the chain is judged as
  // of ChainResult::when, not before it.
  kDisableProperty,
  kDisableUseWithoutDate,  // its Disable usages list the use, no date
};

struct ChainProblem {
  // The certificate it was found on: 0 for the end certificate, counting up
  // the chain; -1 for the chain as a whole.
  int depth = -1;
  ChainFault fault = ChainFault::kOther;
  Finding finding = Finding::kEngineFailed;
  // The finding's parameters, as Finding says.
  int x509_error = 0;
  std::optional<std::time_t> date;
  bool for_use_only = false;
  int cause_depth = -1;
};

// How the anchor a chain ended in is trusted.
enum class AnchorSource {
  kStore,    // it is in the store (OpenSSL's, or a PEM file)
  kListed,   // Windows' root program lists it
  kBuiltIn,  // Windows trusts it whatever the list says (KB293781)
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_CHAIN_PROBLEM_H_

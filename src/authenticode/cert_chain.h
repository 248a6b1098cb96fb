// Certificate chains and key usage, judged the way the Windows chain engine
// reports them for a code signature: no revocation, nothing fetched.
#ifndef SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_
#define SEALPROBE_AUTHENTICODE_CERT_CHAIN_H_

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

namespace sealprobe {

// What the end certificate of a chain is used for.
enum class ChainUse {
  kCodeSigning,   // the signer: an extended key usage, if any, names code
                  // signing
  kTimeStamping,  // a time-stamping authority: its certificate must name
                  // time stamping
};

// Builds and verifies the chain from `leaf` through the certificates in
// `untrusted` (may be null) to an anchor in `store`, as of `when`. Returns
// 0 when it is trusted, otherwise the first of these that applies, in the
// order of Windows' base chain policy:
//   TRUST_E_EXPLICIT_DISTRUST  a chain certificate, or its copy in the
//                              store, is rejected for this use or any use
//   TRUST_E_CERT_SIGNATURE     a certificate's signature does not verify, or
//                              a chain certificate (anchor included) has a
//                              key ClassifyKey (key_policy.h) does not accept, or one below
//                              the anchor is signed with MD5, MD4 or MD2
//   CERT_E_UNTRUSTEDROOT       the chain ends in a self-signed certificate
//                              that is not an anchor
//   CERT_E_CHAINING            an issuer cannot be found
//   CERT_E_WRONG_USAGE         a chain certificate's extended key usage
//                              leaves out the use, the store trusts an
//                              anchor only for other uses, an issuer's key
//                              usage leaves out certificate signing, or the
//                              end certificate's key usage asserts it
//                              without basic constraints naming it a CA
//   CERT_E_EXPIRED             a chain certificate is outside its validity
//   CERT_E_INVALID_POLICY      RFC 5280 policy processing fails: an explicit
//                              policy is required and none is valid for the
//                              whole path, or a policy extension is invalid
//   TRUST_E_BASIC_CONSTRAINTS  an issuer is not a CA, or a path is too long
//   CERT_E_CRITICAL            a chain certificate has a critical extension
//                              outside keyUsage, subjectAltName,
//                              basicConstraints, nameConstraints,
//                              certificatePolicies, policyMappings,
//                              policyConstraints, extKeyUsage and
//                              inhibitAnyPolicy
//   CERT_E_INVALID_NAME        a name is outside an issuer's permitted
//                              subtrees or inside its excluded ones, or a
//                              name or constraint cannot be checked: among
//                              them a name in the legacy subjectAltName
//                              (2.5.29.7), which Windows checks and OpenSSL
//                              cannot read, below a name-constrained issuer
// Any other failure of the chain engine comes back as CERT_E_CHAINING.
uint32_t CheckCertificateChain(X509* leaf, STACK_OF(X509) * untrusted,
                               X509_STORE* store, std::time_t when,
                               ChainUse use);

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

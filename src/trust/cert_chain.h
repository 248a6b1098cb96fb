// Certificate chains and key usage, judged the way the Windows chain engine
// reports them for a code signature: no revocation, nothing fetched.
#ifndef SEALPROBE_TRUST_CERT_CHAIN_H_
#define SEALPROBE_TRUST_CERT_CHAIN_H_

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
// 0 when it is trusted, otherwise the first of these that applies:
//   TRUST_E_EXPLICIT_DISTRUST  a chain certificate, or its copy in the
//                              store, is rejected for this use or any use
//   CERT_E_UNTRUSTEDROOT       the chain ends in a self-signed certificate
//                              that is not an anchor
//   CERT_E_CHAINING            an issuer cannot be found
//   CERT_E_EXPIRED             a chain certificate is outside its validity
//   TRUST_E_CERT_SIGNATURE     a certificate's signature does not verify
//   TRUST_E_BASIC_CONSTRAINTS  an issuer is not a CA, or a path is too long
//   CERT_E_WRONG_USAGE         a chain certificate's extended key usage
//                              leaves out the use, or the store trusts an
//                              anchor only for other uses
// Any other failure of the chain engine comes back as CERT_E_CHAINING.
uint32_t CheckCertificateChain(X509* leaf, STACK_OF(X509) * untrusted,
                               X509_STORE* store, std::time_t when,
                               ChainUse use);

// Whether `cert` is a lifetime-signing certificate: its signatures do not
// outlive it, timestamp or not.
bool HasLifetimeSigningUsage(X509* cert);

}  // namespace sealprobe

#endif  // SEALPROBE_TRUST_CERT_CHAIN_H_

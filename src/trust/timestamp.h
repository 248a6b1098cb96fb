// Timestamps on an Authenticode signature: the time at which a trusted
// time-stamping authority saw the signature, which lets it outlive its
// certificate.
#ifndef SEALPROBE_TRUST_TIMESTAMP_H_
#define SEALPROBE_TRUST_TIMESTAMP_H_

#include <openssl/pkcs7.h>
#include <openssl/x509_vfy.h>

#include <ctime>
#include <optional>

namespace sealprobe {

// The time stated by a valid timestamp among `signer`'s unauthenticated
// attributes: the first RFC 3161 token (1.3.6.1.4.1.311.3.3.1), else the
// first PKCS#9 counter-signature. Later ones are not looked at: anyone can
// add unauthenticated attributes, and each candidate costs a chain check.
// A timestamp is valid when its own
// signature verifies, it covers `signer`'s signature value, and its signer
// holds a time-stamping certificate that chains to an anchor in `store` as
// of the stated time. `certs` are the certificates of the signature that
// `signer` belongs to, where a counter-signer's are found. nullopt when
// there is no valid timestamp; an invalid one is ignored.
std::optional<std::time_t> VerifiedTimestamp(PKCS7_SIGNER_INFO* signer,
                                             STACK_OF(X509) * certs,
                                             X509_STORE* store);

}  // namespace sealprobe

#endif  // SEALPROBE_TRUST_TIMESTAMP_H_

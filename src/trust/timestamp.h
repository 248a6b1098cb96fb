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

// What a signer's timestamp says.
struct Timestamp {
  enum class Status {
    kAbsent,   // the signer carries none
    kValid,    // `time` is when the authority saw the signature
    kInvalid,  // present, but it does not verify
  };
  Status status = Status::kAbsent;
  std::time_t time = 0;
};

// The timestamp among `signer`'s unauthenticated attributes: the first RFC
// 3161 token (1.3.6.1.4.1.311.3.3.1) if there is one, else the first PKCS#9
// counter-signature. Later ones are not looked at: anyone can add
// unauthenticated attributes, and each candidate costs a chain check.
// It is valid when its own signature verifies, it covers `signer`'s
// signature value (the token's message imprint, the counter-signature's
// messageDigest), its signer's key is one ClassifyKey accepts, and that
// signer holds a time-stamping certificate that CheckCertificateChain
// trusts as of the stated time. `certs` are the certificates of the
// signature that `signer` belongs to, where a counter-signer's are found.
Timestamp CheckTimestamp(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs,
                         X509_STORE* store);

}  // namespace sealprobe

#endif  // SEALPROBE_TRUST_TIMESTAMP_H_

// Timestamps on an Authenticode signature: the time at which a trusted
// time-stamping authority saw the signature, which lets it outlive its
// certificate.
#ifndef SEALPROBE_AUTHENTICODE_TIMESTAMP_H_
#define SEALPROBE_AUTHENTICODE_TIMESTAMP_H_

#include <openssl/pkcs7.h>
#include <openssl/x509_vfy.h>

#include <ctime>

#include "authenticode/cert_chain.h"
#include "authenticode/openssl_ptr.h"

namespace sealprobe {

// How a timestamp is carried.
enum class StampForm {
  kNone,              // the signer carries none
  kRfc3161,           // an RFC 3161 token (1.3.6.1.4.1.311.3.3.1)
  kCounterSignature,  // a PKCS#9 counter-signature
};

// Why a timestamp fails its own checks.
enum class StampFault {
  kNone,
  kNotAToken,                 // not a SignedData over one TSTInfo
  kNotACounterSignature,      // not a SignerInfo with authenticated attributes
  kSignerAlgorithm,           // its digest or its signer's key is one Windows
                              // cannot use
  kSignerCertificateMissing,  // its signer's certificate is not included
  kBadSignature,              // its signature does not verify
  kOtherSignature,            // it stamps another signature
  kNoValidTime,               // its time is not a valid time
};

// What a signer's timestamp says of itself, before its authority's chain is
// judged.
struct StampCheck {
  StampForm form = StampForm::kNone;
  StampFault fault = StampFault::kNone;
  // When `authority` saw the signature, if CheckTimestampAuthority agrees;
  // only for a valid stamp.
  std::time_t time = 0;
  // The RFC 3161 token, once decoded: its certificates are the first place
  // to look for the authority's chain. Null otherwise.
  ossl::Pkcs7Ptr token;
  // The certificate of the authority that signed it, once found: in
  // `token`, or in the certificates of the signature stamped.
  X509* authority = nullptr;

  bool present() const { return form != StampForm::kNone; }
  // Present, and its own checks pass.
  bool valid() const { return present() && fault == StampFault::kNone; }
};

// The timestamp among `signer`'s unauthenticated attributes: the first RFC
// 3161 token (1.3.6.1.4.1.311.3.3.1) if there is one, else the first PKCS#9
// counter-signature. Later ones are not looked at: anyone can add
// unauthenticated attributes. Its own checks, the ones Windows makes with
// the signature before any chain is built: its form; that it covers
// `signer`'s signature value (the token's message imprint, the
// counter-signature's messageDigest); and its signer, as CheckSigner
// (signed_data.h) checks it. `certs` are the certificates of the signature
// that `signer` belongs to, where a counter-signer's are found (a token's
// are looked for in the token first). Builds no chain and needs no trust
// store.
StampCheck CheckTimestamp(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs);

// The chain of the authority of `stamp`, which CheckTimestamp found valid,
// as CheckCertificateChain judges it for time stamping as of the stamp's
// time, built from the token's certificates and `certs`, under `program`'s
// rules too when there is one. Status 0 when the authority is trusted.
ChainResult CheckTimestampAuthority(const StampCheck& stamp,
                                    STACK_OF(X509) * certs, X509_STORE* store,
                                    const WindowsRoots* program = nullptr);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_TIMESTAMP_H_

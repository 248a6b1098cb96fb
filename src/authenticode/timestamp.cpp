#include "authenticode/timestamp.h"

#include <openssl/objects.h>
#include <openssl/ts.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "authenticode/cert_chain.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/signed_data.h"

namespace sealprobe {
namespace {

constexpr char kRfc3161TimestampOid[] = "1.3.6.1.4.1.311.3.3.1";

ByteView SignatureValue(const PKCS7_SIGNER_INFO* signer) {
  const ASN1_OCTET_STRING* value = signer->enc_digest;
  return {value->data, static_cast<size_t>(value->length)};
}

// A stamp that fails its own checks with `fault`; `authority` (in `token`
// or the signature's certificates) when its signer's was found.
StampCheck Invalid(StampFault fault, X509* authority = nullptr,
                   ossl::Pkcs7Ptr token = nullptr) {
  StampCheck stamp;
  stamp.fault = fault;
  stamp.authority = authority;
  stamp.token = std::move(token);
  return stamp;
}

StampCheck Valid(std::time_t when, X509* authority, ossl::Pkcs7Ptr token) {
  StampCheck stamp;
  stamp.time = when;
  stamp.authority = authority;
  stamp.token = std::move(token);
  return stamp;
}

// Why a stamp's signer failed CheckSigner.
StampFault SignerFault(SignerCheck::Outcome outcome) {
  switch (outcome) {
    case SignerCheck::Outcome::kVerified:
      break;
    case SignerCheck::Outcome::kUnsupportedAlgorithm:
      return StampFault::kSignerAlgorithm;
    case SignerCheck::Outcome::kNoCertificate:
      return StampFault::kSignerCertificateMissing;
    case SignerCheck::Outcome::kBadSignature:
      return StampFault::kBadSignature;
  }
  return StampFault::kNone;
}

// An RFC 3161 token: a SignedData over a TSTInfo whose message imprint is
// the digest of the signature value it stamps.
StampCheck FromRfc3161Token(const ASN1_TYPE* value,
                            const PKCS7_SIGNER_INFO* stamped,
                            const STACK_OF(X509) * outer_certs) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
    return Invalid(StampFault::kNotAToken);
  }
  // A copy: a token is small (a few KiB; the caps allow 1 MiB).
  const ASN1_STRING* encoding = value->value.sequence;
  ossl::Pkcs7Ptr token = DecodeSignedData(std::vector<uint8_t>(
      encoding->data, encoding->data + std::max(encoding->length, 0)));
  if (!token || !PKCS7_type_is_signed(token.get()) ||
      token->d.sign == nullptr || token->d.sign->contents == nullptr) {
    return Invalid(StampFault::kNotAToken);
  }
  const PKCS7* content = token->d.sign->contents;
  if (OBJ_obj2nid(content->type) != NID_id_smime_ct_TSTInfo ||
      content->d.other == nullptr ||
      content->d.other->type != V_ASN1_OCTET_STRING) {
    return Invalid(StampFault::kNotAToken);
  }
  const std::optional<ByteView> tst_info = ContentOctets(content->d.other);
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(token.get());
  if (!tst_info || sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    return Invalid(StampFault::kNotAToken);
  }
  const SignerCheck signer =
      CheckSigner(sk_PKCS7_SIGNER_INFO_value(signers, 0), token->d.sign->cert,
                  outer_certs, *tst_info);
  if (signer.outcome != SignerCheck::Outcome::kVerified) {
    return Invalid(SignerFault(signer.outcome), signer.certificate,
                   std::move(token));
  }

  const unsigned char* q = tst_info->data;
  const ossl::TsTstInfoPtr info(
      d2i_TS_TST_INFO(nullptr, &q, static_cast<long>(tst_info->size)));
  if (!info)
    return Invalid(StampFault::kNotAToken, signer.certificate,
                   std::move(token));
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
  const EVP_MD* imprint_digest =
      SupportedDigest(TS_MSG_IMPRINT_get_algo(imprint));
  const std::optional<std::vector<uint8_t>> expected =
      DigestOf(imprint_digest, SignatureValue(stamped));
  if (!expected || !DigestMatches(TS_MSG_IMPRINT_get_msg(imprint), *expected)) {
    return Invalid(StampFault::kOtherSignature, signer.certificate,
                   std::move(token));
  }
  const std::optional<std::time_t> when =
      ToUnixTime(TS_TST_INFO_get_time(info.get()));
  if (!when)
    return Invalid(StampFault::kNoValidTime, signer.certificate,
                   std::move(token));
  return Valid(*when, signer.certificate, std::move(token));
}

// A PKCS#9 counter-signature: a SignerInfo whose messageDigest is the
// digest of the signature value it stamps, and whose signingTime is the
// time stamped.
StampCheck FromCounterSignature(const ASN1_TYPE* value,
                                const PKCS7_SIGNER_INFO* stamped,
                                const STACK_OF(X509) * certs) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
    return Invalid(StampFault::kNotACounterSignature);
  }
  const unsigned char* p = value->value.sequence->data;
  const ossl::Pkcs7SignerInfoPtr counter(
      d2i_PKCS7_SIGNER_INFO(nullptr, &p, value->value.sequence->length));
  // Without authenticated attributes there is no signing time to trust.
  if (!counter || sk_X509_ATTRIBUTE_num(counter->auth_attr) == 0) {
    return Invalid(StampFault::kNotACounterSignature);
  }
  // Its messageDigest is checked with its signature: over another signature
  // value, it does not verify.
  const SignerCheck signer =
      CheckSigner(counter.get(), certs, nullptr, SignatureValue(stamped));
  if (signer.outcome != SignerCheck::Outcome::kVerified) {
    return Invalid(SignerFault(signer.outcome), signer.certificate);
  }
  const ASN1_TYPE* signing_time =
      PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
  if (signing_time == nullptr ||
      (signing_time->type != V_ASN1_UTCTIME &&
       signing_time->type != V_ASN1_GENERALIZEDTIME)) {
    return Invalid(StampFault::kNoValidTime, signer.certificate);
  }
  const std::optional<std::time_t> when =
      ToUnixTime(signing_time->value.asn1_string);
  if (!when) return Invalid(StampFault::kNoValidTime, signer.certificate);
  return Valid(*when, signer.certificate, nullptr);
}

}  // namespace

StampCheck CheckTimestamp(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs) {
  if (signer == nullptr || signer->enc_digest == nullptr) return {};
  const ossl::Asn1ObjectPtr rfc3161(OBJ_txt2obj(kRfc3161TimestampOid, 1));
  if (!rfc3161) return {};
  const STACK_OF(X509_ATTRIBUTE)* attributes = signer->unauth_attr;
  for (const bool rfc3161_pass : {true, false}) {
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
      X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
      const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
      const bool is_token = OBJ_cmp(type, rfc3161.get()) == 0;
      const bool is_counter = OBJ_obj2nid(type) == NID_pkcs9_countersignature;
      if (rfc3161_pass ? !is_token : !is_counter) continue;
      // The first of the kind decides, valid or not.
      const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
      StampCheck stamp = rfc3161_pass
                             ? FromRfc3161Token(value, signer, certs)
                             : FromCounterSignature(value, signer, certs);
      stamp.form =
          rfc3161_pass ? StampForm::kRfc3161 : StampForm::kCounterSignature;
      return stamp;
    }
  }
  return {};
}

ChainResult CheckTimestampAuthority(const StampCheck& stamp,
                                    STACK_OF(X509) * certs, X509_STORE* store,
                                    const WindowsRoots* program) {
  // The token's own certificates first, then the signature's.
  ossl::X509ViewStackPtr untrusted(sk_X509_new_null());
  const STACK_OF(X509)* token_certs =
      stamp.token ? stamp.token->d.sign->cert : nullptr;
  const STACK_OF(X509)* outer_certs = certs;
  for (const STACK_OF(X509) * from : {token_certs, outer_certs}) {
    for (int i = 0; untrusted && i < sk_X509_num(from); ++i) {
      if (sk_X509_push(untrusted.get(), sk_X509_value(from, i)) <= 0) {
        untrusted.reset();
      }
    }
  }
  // Without the stack, or without a valid stamp, no chain can be started.
  const bool valid = stamp.valid() && untrusted;
  return CheckCertificateChain(valid ? stamp.authority : nullptr,
                               untrusted.get(), store, stamp.time,
                               ChainUse::kTimeStamping, program);
}

}  // namespace sealprobe

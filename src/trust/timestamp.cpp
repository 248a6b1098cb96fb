#include "trust/timestamp.h"

#include <openssl/objects.h>
#include <openssl/ts.h>

#include "trust/cert_chain.h"
#include "trust/openssl_ptr.h"
#include "trust/signed_data.h"

namespace sealprobe {
namespace {

constexpr char kRfc3161TimestampOid[] = "1.3.6.1.4.1.311.3.3.1";

ByteView SignatureValue(const PKCS7_SIGNER_INFO* signer) {
  const ASN1_OCTET_STRING* value = signer->enc_digest;
  return {value->data, static_cast<size_t>(value->length)};
}

// Whether `tsa`, the certificate a timestamp's `signer` names, has a key
// Windows can verify the timestamp with, under the algorithm it names.
bool UsableAuthority(const PKCS7_SIGNER_INFO* signer, X509* tsa) {
  return tsa != nullptr && ClassifyKey(tsa) != KeyClass::kUnsupported &&
         SignatureAlgorithmFitsKey(signer->digest_enc_alg, tsa);
}

// Whether the TSA certificate `tsa` chains, with time-stamping usage, as of
// `when`; `first` and `second` (either may be null) supply intermediates.
bool TsaTrusted(X509* tsa, const STACK_OF(X509) * first,
                const STACK_OF(X509) * second, X509_STORE* store,
                std::time_t when) {
  ossl::X509ViewStackPtr untrusted(sk_X509_new_null());
  if (!untrusted) return false;
  for (const STACK_OF(X509) * certs : {first, second}) {
    for (int i = 0; i < sk_X509_num(certs); ++i) {
      if (sk_X509_push(untrusted.get(), sk_X509_value(certs, i)) <= 0) {
        return false;
      }
    }
  }
  return CheckCertificateChain(tsa, untrusted.get(), store, when,
                               ChainUse::kTimeStamping) == 0;
}

// An RFC 3161 token: a SignedData over a TSTInfo whose message imprint is
// the digest of the signature value it stamps.
std::optional<std::time_t> FromRfc3161Token(const ASN1_TYPE* value,
                                            const PKCS7_SIGNER_INFO* stamped,
                                            const STACK_OF(X509) * outer_certs,
                                            X509_STORE* store) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) return std::nullopt;
  const unsigned char* p = value->value.sequence->data;
  const ossl::Pkcs7Ptr token(
      d2i_PKCS7(nullptr, &p, value->value.sequence->length));
  if (!token || !PKCS7_type_is_signed(token.get()) ||
      token->d.sign == nullptr || token->d.sign->contents == nullptr) {
    return std::nullopt;
  }
  const PKCS7* content = token->d.sign->contents;
  if (OBJ_obj2nid(content->type) != NID_id_smime_ct_TSTInfo ||
      content->d.other == nullptr ||
      content->d.other->type != V_ASN1_OCTET_STRING) {
    return std::nullopt;
  }
  const std::optional<ByteView> tst_info = ContentOctets(content->d.other);
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(token.get());
  if (!tst_info || sk_PKCS7_SIGNER_INFO_num(signers) != 1) return std::nullopt;
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);

  const EVP_MD* digest = SupportedDigest(signer->digest_alg);
  X509* tsa = FindSignerCertificate(token->d.sign->cert, signer);
  if (tsa == nullptr) tsa = FindSignerCertificate(outer_certs, signer);
  if (digest == nullptr || !UsableAuthority(signer, tsa) ||
      !VerifySigner(signer, tsa, digest, *tst_info)) {
    return std::nullopt;
  }

  const unsigned char* q = tst_info->data;
  const ossl::TsTstInfoPtr info(
      d2i_TS_TST_INFO(nullptr, &q, static_cast<long>(tst_info->size)));
  if (!info) return std::nullopt;
  TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
  const EVP_MD* imprint_digest =
      SupportedDigest(TS_MSG_IMPRINT_get_algo(imprint));
  const std::optional<std::vector<uint8_t>> expected =
      DigestOf(imprint_digest, SignatureValue(stamped));
  if (!expected || !DigestMatches(TS_MSG_IMPRINT_get_msg(imprint), *expected)) {
    return std::nullopt;
  }

  const std::optional<std::time_t> when =
      ToUnixTime(TS_TST_INFO_get_time(info.get()));
  if (!when ||
      !TsaTrusted(tsa, token->d.sign->cert, outer_certs, store, *when)) {
    return std::nullopt;
  }
  return when;
}

// A PKCS#9 counter-signature: a SignerInfo whose messageDigest is the
// digest of the signature value it stamps, and whose signingTime is the
// time stamped.
std::optional<std::time_t> FromCounterSignature(
    const ASN1_TYPE* value, const PKCS7_SIGNER_INFO* stamped,
    const STACK_OF(X509) * certs, X509_STORE* store) {
  if (value == nullptr || value->type != V_ASN1_SEQUENCE) return std::nullopt;
  const unsigned char* p = value->value.sequence->data;
  const ossl::Pkcs7SignerInfoPtr counter(
      d2i_PKCS7_SIGNER_INFO(nullptr, &p, value->value.sequence->length));
  // Without authenticated attributes there is no signing time to trust.
  if (!counter || sk_X509_ATTRIBUTE_num(counter->auth_attr) == 0) {
    return std::nullopt;
  }
  const EVP_MD* digest = SupportedDigest(counter->digest_alg);
  X509* tsa = FindSignerCertificate(certs, counter.get());
  if (digest == nullptr || !UsableAuthority(counter.get(), tsa) ||
      !VerifySigner(counter.get(), tsa, digest, SignatureValue(stamped))) {
    return std::nullopt;
  }
  const ASN1_TYPE* signing_time =
      PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
  if (signing_time == nullptr ||
      (signing_time->type != V_ASN1_UTCTIME &&
       signing_time->type != V_ASN1_GENERALIZEDTIME)) {
    return std::nullopt;
  }
  const std::optional<std::time_t> when =
      ToUnixTime(signing_time->value.asn1_string);
  if (!when || !TsaTrusted(tsa, certs, nullptr, store, *when)) {
    return std::nullopt;
  }
  return when;
}

}  // namespace

Timestamp CheckTimestamp(PKCS7_SIGNER_INFO* signer, STACK_OF(X509) * certs,
                         X509_STORE* store) {
  Timestamp stamp;
  if (signer == nullptr || signer->enc_digest == nullptr) return stamp;
  const ossl::Asn1ObjectPtr rfc3161(OBJ_txt2obj(kRfc3161TimestampOid, 1));
  if (!rfc3161) return stamp;
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
      const std::optional<std::time_t> when =
          rfc3161_pass ? FromRfc3161Token(value, signer, certs, store)
                       : FromCounterSignature(value, signer, certs, store);
      stamp.status =
          when ? Timestamp::Status::kValid : Timestamp::Status::kInvalid;
      stamp.time = when.value_or(0);
      return stamp;
    }
  }
  return stamp;
}

}  // namespace sealprobe

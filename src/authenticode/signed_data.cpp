#include "authenticode/signed_data.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <cstring>

#include "authenticode/key_policy.h"
#include "authenticode/openssl_ptr.h"

namespace sealprobe {
namespace {

// Splits the DER of a definite-length universal SEQUENCE into its header and
// contents with OpenSSL's own header reader.
std::optional<ByteView> SequenceContents(const ASN1_STRING* encoding) {
  if (encoding == nullptr || encoding->data == nullptr) return std::nullopt;
  const unsigned char* p = encoding->data;
  long length = 0;
  int tag = 0;
  int tag_class = 0;
  const int flags =
      ASN1_get_object(&p, &length, &tag, &tag_class, encoding->length);
  // 0x80 flags an error, the low bit an indefinite length.
  if (flags != V_ASN1_CONSTRUCTED || tag != V_ASN1_SEQUENCE ||
      tag_class != V_ASN1_UNIVERSAL) {
    return std::nullopt;
  }
  return ByteView{p, static_cast<size_t>(length)};
}

// The DER of `name` as it was decoded: OpenSSL keeps a decoded name's
// encoding and hands it back unchanged until the name is modified.
std::optional<ByteView> NameEncoding(const X509_NAME* name) {
  const unsigned char* der = nullptr;
  size_t size = 0;
  if (name == nullptr || X509_NAME_get0_der(name, &der, &size) != 1) {
    return std::nullopt;
  }
  return ByteView{der, size};
}

// The certificate in `certs` that `signer` names by issuer and serial
// number; null when there is none.
X509* FindSignerCertificate(const STACK_OF(X509) * certs,
                            const PKCS7_SIGNER_INFO* signer) {
  if (certs == nullptr || signer == nullptr ||
      signer->issuer_and_serial == nullptr) {
    return nullptr;
  }
  const PKCS7_ISSUER_AND_SERIAL* id = signer->issuer_and_serial;
  const std::optional<ByteView> issuer = NameEncoding(id->issuer);
  if (!issuer) return nullptr;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    X509* cert = sk_X509_value(certs, i);
    const std::optional<ByteView> cert_issuer =
        NameEncoding(X509_get_issuer_name(cert));
    // The names as encoded, octet for octet: not X509_NAME_cmp, which
    // ignores letter case and string types. Serial numbers compare as
    // integers, as Windows compares them.
    if (cert_issuer && cert_issuer->size == issuer->size &&
        std::memcmp(cert_issuer->data, issuer->data, issuer->size) == 0 &&
        ASN1_INTEGER_cmp(X509_get0_serialNumber(cert), id->serial) == 0) {
      return cert;
    }
  }
  return nullptr;
}

// Whether `signer`, whose certificate is `cert`, signed `content` with
// `digest`.
bool VerifySigner(PKCS7_SIGNER_INFO* signer, X509* cert, const EVP_MD* digest,
                  ByteView content) {
  if (signer == nullptr || cert == nullptr || digest == nullptr ||
      signer->enc_digest == nullptr) {
    return false;
  }
  EVP_PKEY* key = X509_get0_pubkey(cert);  // owned by `cert`
  if (key == nullptr) return false;

  ByteView signed_bytes = content;
  ossl::OpenSslBuffer attributes;
  if (sk_X509_ATTRIBUTE_num(signer->auth_attr) > 0) {
    const ASN1_TYPE* expected =
        PKCS7_get_signed_attribute(signer, NID_pkcs9_messageDigest);
    if (expected == nullptr || expected->type != V_ASN1_OCTET_STRING) {
      return false;
    }
    const std::optional<std::vector<uint8_t>> actual =
        DigestOf(digest, content);
    if (!actual || !DigestMatches(expected->value.octet_string, *actual)) {
      return false;
    }
    // The signature covers the attributes re-encoded with the SET OF tag in
    // place of the [0] IMPLICIT one, in the order they came in.
    unsigned char* der = nullptr;
    const int der_size =
        ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(signer->auth_attr), &der,
                      ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    attributes.reset(der);
    if (der_size <= 0) return false;
    signed_bytes = ByteView{der, static_cast<size_t>(der_size)};
  }

  ossl::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx ||
      EVP_DigestVerifyInit(ctx.get(), nullptr, digest, nullptr, key) != 1) {
    return false;
  }
  const ASN1_OCTET_STRING* signature = signer->enc_digest;
  return EVP_DigestVerify(ctx.get(), signature->data,
                          static_cast<size_t>(signature->length),
                          signed_bytes.data, signed_bytes.size) == 1;
}

}  // namespace

std::optional<ByteView> ContentOctets(const ASN1_TYPE* content) {
  if (content == nullptr) return std::nullopt;
  switch (content->type) {
    case V_ASN1_SEQUENCE:
      return SequenceContents(content->value.sequence);
    case V_ASN1_OCTET_STRING: {
      const ASN1_OCTET_STRING* s = content->value.octet_string;
      if (s == nullptr) return std::nullopt;
      return ByteView{s->data, static_cast<size_t>(s->length)};
    }
    default:
      return std::nullopt;
  }
}

std::optional<ByteView> ContentEncoding(const ASN1_TYPE* content) {
  if (!ContentOctets(content)) return std::nullopt;
  // For a SEQUENCE, OpenSSL keeps the whole encoding, header included.
  const ASN1_STRING* s = content->value.asn1_string;
  return ByteView{s->data, static_cast<size_t>(s->length)};
}

const EVP_MD* SupportedDigest(const X509_ALGOR* algorithm) {
  if (algorithm == nullptr) return nullptr;
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  switch (OBJ_obj2nid(oid)) {
    case NID_sha1:
      return EVP_sha1();
    case NID_sha256:
      return EVP_sha256();
    case NID_sha384:
      return EVP_sha384();
    case NID_sha512:
      return EVP_sha512();
    default:
      return nullptr;
  }
}

std::optional<std::vector<uint8_t>> DigestOf(const EVP_MD* digest,
                                             ByteView data) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned size = 0;
  if (digest == nullptr || EVP_Digest(data.data, data.size, out.data(), &size,
                                      digest, nullptr) != 1) {
    return std::nullopt;
  }
  out.resize(size);
  return out;
}

bool DigestMatches(const ASN1_OCTET_STRING* carried,
                   const std::vector<uint8_t>& computed) {
  return carried != nullptr && !computed.empty() && carried->length >= 0 &&
         static_cast<size_t>(carried->length) == computed.size() &&
         std::memcmp(carried->data, computed.data(), computed.size()) == 0;
}

SignerCheck CheckSigner(PKCS7_SIGNER_INFO* signer, const STACK_OF(X509) * certs,
                        const STACK_OF(X509) * more_certs, ByteView content) {
  using Outcome = SignerCheck::Outcome;
  SignerCheck check;
  check.digest = SupportedDigest(signer->digest_alg);
  if (check.digest == nullptr) {
    check.outcome = Outcome::kUnsupportedAlgorithm;
    return check;
  }
  check.certificate = FindSignerCertificate(certs, signer);
  if (check.certificate == nullptr && more_certs != nullptr) {
    check.certificate = FindSignerCertificate(more_certs, signer);
  }
  if (check.certificate == nullptr) {
    check.outcome = Outcome::kNoCertificate;
  } else if (!KeyVerifiesSigner(signer->digest_enc_alg, check.certificate)) {
    check.outcome = Outcome::kUnsupportedAlgorithm;
  } else if (!VerifySigner(signer, check.certificate, check.digest, content)) {
    check.outcome = Outcome::kBadSignature;
  } else {
    check.outcome = Outcome::kVerified;
  }
  return check;
}

std::optional<std::time_t> ToUnixTime(const ASN1_TIME* time) {
  if (time == nullptr || ASN1_TIME_check(time) != 1) return std::nullopt;
  const ossl::Asn1TimePtr epoch(ASN1_TIME_set(nullptr, 0));
  int days = 0;
  int seconds = 0;
  if (!epoch || ASN1_TIME_diff(&days, &seconds, epoch.get(), time) != 1) {
    return std::nullopt;
  }
  return static_cast<std::time_t>(days) * 86400 + seconds;
}

}  // namespace sealprobe

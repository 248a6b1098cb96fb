#include "authenticode/signature.h"

#include <openssl/asn1t.h>
#include <openssl/objects.h>

#include <utility>

namespace sealprobe {

// SpcAttributeTypeAndOptionalValue ::= SEQUENCE {
//   type   OBJECT IDENTIFIER,
//   value  ANY DEFINED BY type OPTIONAL }
// DigestInfo has X509_SIG's shape. What `data` names (a PE image, with or
// without page hashes) does not change what is compared: the digest is
// always the image hash.
struct SpcAttributeTypeAndOptionalValue {
  ASN1_OBJECT* type;
  ASN1_TYPE* value;
};

struct SpcIndirectDataContent {
  SpcAttributeTypeAndOptionalValue* data;
  X509_SIG* message_digest;
};

// clang-format off
ASN1_SEQUENCE(SpcAttributeTypeAndOptionalValue) = {
  ASN1_SIMPLE(SpcAttributeTypeAndOptionalValue, type, ASN1_OBJECT),
  ASN1_OPT(SpcAttributeTypeAndOptionalValue, value, ASN1_ANY),
} ASN1_SEQUENCE_END(SpcAttributeTypeAndOptionalValue);

ASN1_SEQUENCE(SpcIndirectDataContent) = {
  ASN1_SIMPLE(SpcIndirectDataContent, data, SpcAttributeTypeAndOptionalValue),
  ASN1_SIMPLE(SpcIndirectDataContent, message_digest, X509_SIG),
} ASN1_SEQUENCE_END(SpcIndirectDataContent);
// clang-format on

void SpcIndirectDataContentDeleter::operator()(
    SpcIndirectDataContent* p) const noexcept {
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(p),
                 ASN1_ITEM_rptr(SpcIndirectDataContent));
}

namespace {

constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

// The shape of the content a SignedData of `version` carries. PKCS#7 (version
// 1) puts a content type other than data in [0] as it is: the
// SpcIndirectDataContent SEQUENCE itself. CMS (version 3 for such content)
// wraps it in an OCTET STRING. Windows' message layer reads each version its
// way, so the other shape fails to decode as SpcIndirectDataContent;
// versions other than these two are not Authenticode.
bool ContentShapeFits(long version, const ASN1_TYPE* content) {
  switch (version) {
    case 1:
      return content->type == V_ASN1_SEQUENCE;
    case 3:
      return content->type == V_ASN1_OCTET_STRING;
    default:
      return false;
  }
}

// Why the decoded `pkcs7` is not an Authenticode SignedData.
SignatureFault ShapeFault(PKCS7* pkcs7, const ASN1_OBJECT* indirect) {
  if (pkcs7 == nullptr || !PKCS7_type_is_signed(pkcs7) ||
      pkcs7->d.sign == nullptr || pkcs7->d.sign->contents == nullptr) {
    return SignatureFault::kNotSignedData;
  }
  const PKCS7* content = pkcs7->d.sign->contents;
  if (indirect == nullptr || content->type == nullptr ||
      OBJ_cmp(content->type, indirect) != 0 || content->d.other == nullptr) {
    return SignatureFault::kNotIndirectData;
  }
  if (!ContentShapeFits(ASN1_INTEGER_get(pkcs7->d.sign->version),
                        content->d.other)) {
    return SignatureFault::kContentShape;
  }
  if (sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(pkcs7)) != 1) {
    return SignatureFault::kNotOneSigner;
  }
  return SignatureFault::kNone;
}

Signature Failed(SignatureFault fault) {
  Signature signature;
  signature.fault = fault;
  return signature;
}

// DecodeSignature, once the ContentInfo's size is taken.
Signature DecodeContentInfo(std::vector<uint8_t> der) {
  // The decoder builds everything it reads before any check can fail:
  // refuse what would make that costly before it starts.
  const SignatureLimitCheck over = CheckSignatureLimits(der.data(), der.size());
  if (over != SignatureLimitCheck::kWithinLimits) {
    Signature signature = Failed(SignatureFault::kOverCap);
    signature.cap = over;
    return signature;
  }
  // Anything after the SignedData (alignment padding) is left unread.
  ossl::Pkcs7Ptr pkcs7 = DecodeSignedData(std::move(der));
  const ossl::Asn1ObjectPtr indirect_oid(OBJ_txt2obj(kSpcIndirectDataOid, 1));
  const SignatureFault shape = ShapeFault(pkcs7.get(), indirect_oid.get());
  if (shape != SignatureFault::kNone) return Failed(shape);
  Signature signature;
  signature.signer =
      sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(pkcs7.get()), 0);
  // An Authenticode signer signs its attributes, and they name the content
  // it signs: without them the signature could stand for other content.
  const ASN1_TYPE* content_type =
      PKCS7_get_signed_attribute(signature.signer, NID_pkcs9_contentType);
  if (content_type == nullptr || content_type->type != V_ASN1_OBJECT ||
      OBJ_cmp(content_type->value.object, indirect_oid.get()) != 0) {
    return Failed(SignatureFault::kContentTypeNotSigned);
  }
  const ASN1_TYPE* content = pkcs7->d.sign->contents->d.other;
  const std::optional<ByteView> octets = ContentOctets(content);
  const std::optional<ByteView> encoding = ContentEncoding(content);
  if (octets && encoding) {
    const unsigned char* q = encoding->data;
    signature.indirect.reset(reinterpret_cast<SpcIndirectDataContent*>(
        ASN1_item_d2i(nullptr, &q, static_cast<long>(encoding->size),
                      ASN1_ITEM_rptr(SpcIndirectDataContent))));
  }
  if (!octets || !encoding || !signature.indirect) {
    return Failed(SignatureFault::kIndirectDataMalformed);
  }
  signature.signed_content = *octets;
  signature.pkcs7 = std::move(pkcs7);
  return signature;
}

}  // namespace

STACK_OF(X509) * Signature::certificates() const {
  return pkcs7 ? pkcs7->d.sign->cert : nullptr;
}

const X509_ALGOR* Signature::image_digest_algorithm() const {
  const X509_ALGOR* algorithm = nullptr;
  if (indirect) X509_SIG_get0(indirect->message_digest, &algorithm, nullptr);
  return algorithm;
}

const ASN1_OBJECT* Signature::subject_type() const {
  return indirect && indirect->data ? indirect->data->type : nullptr;
}

const ASN1_OCTET_STRING* Signature::image_digest() const {
  const ASN1_OCTET_STRING* digest = nullptr;
  if (indirect) X509_SIG_get0(indirect->message_digest, nullptr, &digest);
  return digest;
}

Signature DecodeSignature(std::vector<uint8_t> der) {
  const size_t encoded_size = EncodedSize(der.data(), der.size());
  Signature signature = DecodeContentInfo(std::move(der));
  signature.encoded_size = encoded_size;
  return signature;
}

std::vector<std::vector<uint8_t>> NestedSignatures(const Signature& signature) {
  std::vector<std::vector<uint8_t>> nested;
  if (signature.fault != SignatureFault::kNone || signature.signer == nullptr) {
    return nested;
  }
  const ossl::Asn1ObjectPtr oid(OBJ_txt2obj(kNestedSignatureOid, 1));
  const STACK_OF(X509_ATTRIBUTE)* attributes = signature.signer->unauth_attr;
  for (int a = 0; oid && a < sk_X509_ATTRIBUTE_num(attributes); ++a) {
    X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, a);
    if (OBJ_cmp(X509_ATTRIBUTE_get0_object(attribute), oid.get()) != 0) {
      continue;
    }
    for (int i = 0; i < X509_ATTRIBUTE_count(attribute); ++i) {
      // One past the cap, empty so that it does not decode, stands for all
      // that are left: left out, they could not fail a check of every
      // signature.
      if (nested.size() == kMaxNestedSignatures) {
        nested.emplace_back();
        return nested;
      }
      // A value is kept as its encoding: re-encoding it gives those octets.
      // One that does not encode stays, empty, for DecodeSignature to refuse.
      unsigned char* der = nullptr;
      const int size =
          i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(attribute, i), &der);
      const ossl::OpenSslBuffer owned(der);
      nested.emplace_back();
      if (size > 0) nested.back().assign(der, der + size);
    }
  }
  return nested;
}

}  // namespace sealprobe

#include "authenticode/signed_data.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "authenticode/certificate_bytes.h"
#include "authenticode/der_reader.h"
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

constexpr uint8_t kSequenceIdentifier = 0x30;
constexpr uint8_t kOidIdentifier = 0x06;
constexpr uint8_t kContext0 = 0xa0;  // [0], constructed
constexpr uint8_t kContext3 = 0xa3;  // [3], constructed
// The contents octets of 1.2.840.113549.1.7.2, signedData.
constexpr uint8_t kSignedDataOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                      0x0d, 0x01, 0x07, 0x02};

// An element of a DER buffer, as offsets into it.
struct Element {
  uint8_t identifier = 0;
  size_t offset = 0;    // of its first header octet
  size_t contents = 0;  // of its contents
  size_t end = 0;       // just past its contents
};

// The element that begins at `at` and must end by `limit` (at most
// der.size), read with OpenSSL's own header reader; nullopt when its header
// is malformed, its length indefinite or its contents overrun `limit`.
std::optional<Element> ElementAt(ByteView der, size_t at, size_t limit) {
  if (at >= limit || limit > der.size ||
      limit - at > static_cast<size_t>(LONG_MAX)) {
    return std::nullopt;
  }
  const unsigned char* p = der.data + at;
  long length = 0;
  int tag = 0;
  int tag_class = 0;
  const int flags = ASN1_get_object(&p, &length, &tag, &tag_class,
                                    static_cast<long>(limit - at));
  // 0x80 flags an error (an overrun among them), the low bit an indefinite
  // length.
  if ((flags & 0x81) != 0 || length < 0) return std::nullopt;
  Element element;
  element.identifier = der.data[at];
  element.offset = at;
  element.contents = static_cast<size_t>(p - der.data);
  if (static_cast<size_t>(length) > limit - element.contents) {
    return std::nullopt;
  }
  element.end = element.contents + static_cast<size_t>(length);
  return element;
}

// A header as der::EncodeHeader writes it.
struct Header {
  uint8_t octets[2 + sizeof(size_t)];
  size_t size;
};

// The headers of `path`, elements each read inside the one before it, once
// the last one's contents are `length` octets long, worked out from the
// inside out: each element loses what the one inside it lost, header
// included, since a shorter length may take fewer octets (and a header that
// came in longer than DER needs is written in DER's form). `length` must
// not exceed the last one's contents.
std::array<Header, 4> ShortenedHeaders(const std::array<Element, 4>& path,
                                       size_t length) {
  std::array<Header, 4> headers;
  for (size_t i = path.size(); i-- > 0;) {
    headers[i].size =
        der::EncodeHeader(path[i].identifier, length, headers[i].octets);
    if (i > 0) {
      // No underflow: the element lies inside its parent's contents, and
      // its new length and header are no longer than the old ones.
      length = (path[i - 1].end - path[i - 1].contents) -
               (path[i].end - path[i].offset) + headers[i].size + length;
    }
  }
  return headers;
}

// The four elements down to a SignedData's certificate set, in definite
// lengths: ContentInfo, its [0], the SignedData and the set, the fourth
// element of
//   ContentInfo { signedData, [0] SignedData { version, digestAlgorithms,
//                 encapContentInfo, [0] certificates, ... } }
// nullopt when `der` does not begin so. Four levels are read, and no more.
std::optional<std::array<Element, 4>> CertificateSetPath(ByteView der) {
  const std::optional<Element> info = ElementAt(der, 0, der.size);
  if (!info || info->identifier != kSequenceIdentifier) return std::nullopt;
  const std::optional<Element> type = ElementAt(der, info->contents, info->end);
  if (!type || type->identifier != kOidIdentifier ||
      type->end - type->contents != sizeof(kSignedDataOid) ||
      std::memcmp(der.data + type->contents, kSignedDataOid,
                  sizeof(kSignedDataOid)) != 0) {
    return std::nullopt;
  }
  const std::optional<Element> content = ElementAt(der, type->end, info->end);
  if (!content || content->identifier != kContext0) return std::nullopt;
  const std::optional<Element> signed_data =
      ElementAt(der, content->contents, content->end);
  if (!signed_data || signed_data->identifier != kSequenceIdentifier) {
    return std::nullopt;
  }
  std::optional<Element> set;
  for (size_t at = signed_data->contents, i = 0; i < 4; ++i, at = set->end) {
    set = ElementAt(der, at, signed_data->end);
    if (!set) return std::nullopt;
  }
  if (set->identifier != kContext0) return std::nullopt;
  return std::array<Element, 4>{*info, *content, *signed_data, *set};
}

// Leaves out of the ContentInfo `der` begins with the members of its
// SignedData's certificates that are CMS's other choices ([0] to [3],
// constructed), and makes the lengths of the four elements down to the set
// fit; what follows the ContentInfo goes. Nothing changes, and false is
// returned, when there are none to leave out or the path down to them is
// not CertificateSetPath's.
bool LeaveOutOtherCertificates(std::vector<uint8_t>* buffer) {
  const ByteView der{buffer->data(), buffer->size()};
  const std::optional<std::array<Element, 4>> path = CertificateSetPath(der);
  if (!path) return false;
  const Element* set = &(*path)[3];
  std::vector<Element> kept;
  size_t left_out = 0;
  for (size_t at = set->contents; at < set->end;) {
    const std::optional<Element> member = ElementAt(der, at, set->end);
    if (!member) return false;
    if (member->identifier >= kContext0 && member->identifier <= kContext3) {
      left_out += member->end - member->offset;
    } else {
      kept.push_back(*member);
    }
    at = member->end;
  }
  if (left_out == 0) return false;

  const std::array<Header, 4> headers =
      ShortenedHeaders(*path, set->end - set->contents - left_out);

  // Written over itself from the front, in the order it was read: each
  // element's header and what comes before the next one, the members kept,
  // then, innermost first, what comes after each. No header grows (a
  // length in its shortest form takes no more octets than any form of a
  // length at least as long), so what is written never overtakes what is
  // still to be read.
  uint8_t* const out = buffer->data();
  size_t written = 0;
  const auto move = [&](size_t from, size_t to) {
    std::memmove(out + written, out + from, to - from);
    written += to - from;
  };
  for (size_t i = 0; i < path->size(); ++i) {
    std::memcpy(out + written, headers[i].octets, headers[i].size);
    written += headers[i].size;
    if (i + 1 < path->size()) move((*path)[i].contents, (*path)[i + 1].offset);
  }
  for (const Element& member : kept) move(member.offset, member.end);
  for (size_t i = path->size() - 1; i > 0; --i) {
    move((*path)[i].end, (*path)[i - 1].end);
  }
  buffer->resize(written);
  return true;
}

// Whether each certificate of `certs` is in `der` as OpenSSL encodes it,
// so that its encoding is the bytes it came in.
bool EachEncodedAsGiven(ByteView der, const STACK_OF(X509) * certs) {
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    const std::vector<uint8_t> own = EncodingOf(sk_X509_value(certs, i));
    if (own.empty() || std::search(der.data, der.data + der.size, own.begin(),
                                   own.end()) == der.data + der.size) {
      return false;
    }
  }
  return true;
}

// Records on each certificate of `pkcs7`, decoded from `der`, the bytes it
// came in (certificate_bytes.h): the members of the certificate set, which
// d2i_PKCS7 decodes in their order. Where the path down to the set has an
// indefinite length, each certificate must be found in `der` as OpenSSL
// encodes it. False when they cannot be matched up or recorded.
bool KeepCertificateEncodings(ByteView der, PKCS7* pkcs7) {
  if (!PKCS7_type_is_signed(pkcs7) || pkcs7->d.sign == nullptr) return true;
  STACK_OF(X509)* certs = pkcs7->d.sign->cert;
  const int count = sk_X509_num(certs);
  if (count <= 0) return true;
  const std::optional<std::array<Element, 4>> path = CertificateSetPath(der);
  if (!path) return EachEncodedAsGiven(der, certs);
  const Element* at = &(*path)[3];
  size_t from = at->contents;
  for (int i = 0; i < count; ++i) {
    const std::optional<Element> member = ElementAt(der, from, at->end);
    if (!member ||
        !KeepEncoding(sk_X509_value(certs, i), der.data + member->offset,
                      member->end - member->offset)) {
      return false;
    }
    from = member->end;
  }
  return from == at->end;
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

ossl::Pkcs7Ptr DecodeSignedData(std::vector<uint8_t> der) {
  LeaveOutOtherCertificates(&der);
  if (der.empty() || der.size() > static_cast<size_t>(LONG_MAX)) {
    return nullptr;
  }
  const unsigned char* p = der.data();
  ossl::Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
  if (pkcs7 && !KeepCertificateEncodings(ByteView{der.data(), der.size()},
                                         pkcs7.get())) {
    return nullptr;
  }
  return pkcs7;
}

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

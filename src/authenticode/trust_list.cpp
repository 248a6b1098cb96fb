#include "authenticode/trust_list.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <algorithm>
#include <cstring>

#include "authenticode/der_limits.h"
#include "authenticode/der_reader.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/signed_data.h"

namespace sealprobe {
namespace {

// Object identifiers as their DER contents octets.
using Oid = Der::Bytes;
const Oid kCtlOid = {0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0a, 0x01};
const Oid kRootListOid = {0x2b, 0x06, 0x01, 0x04, 0x01,
                          0x82, 0x37, 0x0a, 0x03, 0x09};
const Oid kDisallowedListOid = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                0x82, 0x37, 0x0a, 0x03, 0x1e};
const Oid kSha1Oid = {0x2b, 0x0e, 0x03, 0x02, 0x1a};
// 1.3.6.1.4.1.311.10.11, to which a property's id is appended.
const Oid kPropertyPrefix = {0x2b, 0x06, 0x01, 0x04, 0x01,
                             0x82, 0x37, 0x0a, 0x0b};
const Oid kCodeSigningOid = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03};
const Oid kTimeStampingOid = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08};

// CERT_*_PROP_ID numbers (wincrypt.h).
constexpr uint8_t kEnhancedKeyUsageProperty = 9;
constexpr uint8_t kDisallowedFileTimeProperty = 104;
constexpr uint8_t kDisallowedUsageProperty = 122;
constexpr uint8_t kNotBeforeFileTimeProperty = 126;
constexpr uint8_t kNotBeforeUsageProperty = 127;

constexpr uint8_t kExtensions = 0xa0;  // [0] EXPLICIT

TrustListRead Failed(TrustListFault fault, size_t subject = 0) {
  TrustListRead read;
  read.error.fault = fault;
  read.error.subject = subject;
  return read;
}

std::optional<std::time_t> ReadTime(const Der& whole) {
  const unsigned char* p = whole.data();
  const ossl::Asn1TimePtr time(
      d2i_ASN1_TIME(nullptr, &p, static_cast<long>(whole.size())));
  return time ? ToUnixTime(time.get()) : std::nullopt;
}

// A SEQUENCE OF OBJECT IDENTIFIER in `value`, the DER an OCTET STRING
// property holds.
bool ReadUsages(Der value, size_t max, UsageList* usages) {
  Der list;
  if (!value.Expect(der::kSequence, &list) || !value.empty()) return false;
  usages->present = true;
  for (size_t count = 0; !list.empty(); ++count) {
    Der oid;
    if (count == max || !list.Expect(der::kObject, &oid)) return false;
    const Oid id = oid.bytes();
    usages->code_signing |= id == kCodeSigningOid;
    usages->time_stamping |= id == kTimeStampingOid;
  }
  return true;
}

// One attribute of a subject: SEQUENCE { type, SET OF OCTET STRING }. Only
// the properties that decide trust are read; the others (names, hashes,
// policies) are left as they are.
bool ReadAttribute(Der attribute, const TrustListLimits& limits,
                   RootProperties* properties) {
  Der type;
  Der values;
  Der value;
  if (!attribute.Expect(der::kObject, &type) ||
      !attribute.Expect(der::kSet, &values) || !attribute.empty() ||
      !values.Expect(der::kOctetString, &value)) {
    return false;
  }
  const Oid id = type.bytes();
  if (id.size() != kPropertyPrefix.size() + 1 ||
      !std::equal(kPropertyPrefix.begin(), kPropertyPrefix.end(), id.begin())) {
    return true;  // not a certificate property
  }
  switch (id.back()) {
    case kEnhancedKeyUsageProperty:
      return ReadUsages(value, limits.usages, &properties->usages);
    case kDisallowedUsageProperty:
      return ReadUsages(value, limits.usages, &properties->disabled_usages);
    case kNotBeforeUsageProperty:
      return ReadUsages(value, limits.usages, &properties->not_before_usages);
    case kDisallowedFileTimeProperty:
      properties->disabled = FromFileTime(value.data(), value.size());
      return properties->disabled.has_value();
    case kNotBeforeFileTimeProperty:
      properties->not_before = FromFileTime(value.data(), value.size());
      return properties->not_before.has_value();
    default:
      return true;
  }
}

std::string Hex(const Der& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += kDigits[bytes.data()[i] >> 4];
    out += kDigits[bytes.data()[i] & 15];
  }
  return out;
}

// The trustedSubjects in `subjects`, into `list`.
TrustListError ReadSubjects(Der subjects, const TrustListLimits& limits,
                            TrustList* list) {
  const auto failed = [](TrustListFault fault, size_t at = 0) {
    TrustListError error;
    error.fault = fault;
    error.subject = at;
    return error;
  };
  for (size_t count = 0; !subjects.empty(); ++count) {
    const size_t at = count + 1;
    if (count == limits.subjects) {
      return failed(TrustListFault::kTooManySubjects);
    }
    Der subject;
    Der identifier;
    if (!subjects.Expect(der::kSequence, &subject) ||
        !subject.Expect(der::kOctetString, &identifier) ||
        identifier.size() != Sha1().size()) {
      return failed(TrustListFault::kSubjectNotSha1, at);
    }
    Sha1 sha1;
    std::memcpy(sha1.data(), identifier.data(), sha1.size());
    RootProperties properties;
    Der attributes;
    if (subject.PeekTag() == der::kSet) subject.Expect(der::kSet, &attributes);
    if (!subject.empty()) return failed(TrustListFault::kSubjectMalformed, at);
    for (size_t n = 0; !attributes.empty(); ++n) {
      Der attribute;
      if (n == limits.attributes) {
        return failed(TrustListFault::kTooManyAttributes, at);
      }
      if (!attributes.Expect(der::kSequence, &attribute) ||
          !ReadAttribute(attribute, limits, &properties)) {
        return failed(TrustListFault::kBadProperty, at);
      }
    }
    if (!list->subjects.emplace(sha1, properties).second) {
      return failed(TrustListFault::kListedTwice, at);
    }
  }
  return {};
}

// The CertificateTrustList SEQUENCE in `ctl`, read field by field.
TrustListRead ReadContent(Der ctl, TrustListKind kind,
                          const TrustListLimits& limits) {
  Der fields;
  if (!ctl.Expect(der::kSequence, &fields) || !ctl.empty()) {
    return Failed(TrustListFault::kNotCertificateTrustList);
  }
  Der field;
  if (fields.PeekTag() == der::kInteger) {
    fields.Expect(der::kInteger, &field);
    if (field.size() != 1 || field.data()[0] != 0) {
      return Failed(TrustListFault::kNotVersion1);
    }
  }
  Der usages;
  Der usage;
  if (!fields.Expect(der::kSequence, &usages) ||
      !usages.Expect(der::kObject, &usage) || !usages.empty()) {
    return Failed(TrustListFault::kUsageNotOneOid);
  }
  const Oid& wanted =
      kind == TrustListKind::kRoots ? kRootListOid : kDisallowedListOid;
  if (usage.bytes() != wanted) {
    return Failed(kind == TrustListKind::kRoots
                      ? TrustListFault::kNotRootList
                      : TrustListFault::kNotDisallowedList);
  }
  TrustList list;
  if (fields.PeekTag() == der::kOctetString)
    fields.Expect(der::kOctetString, &field);
  if (fields.PeekTag() == der::kInteger) {
    fields.Expect(der::kInteger, &field);
    list.sequence_number = Hex(field);
  }
  Der whole;
  uint8_t tag = fields.PeekTag();
  std::optional<std::time_t> this_update;
  if ((tag == der::kUtcTime || tag == der::kGeneralizedTime) &&
      fields.Next(&tag, &field, &whole)) {
    this_update = ReadTime(whole);
  }
  if (!this_update) return Failed(TrustListFault::kNoThisUpdate);
  list.this_update = *this_update;
  tag = fields.PeekTag();
  if (tag == der::kUtcTime || tag == der::kGeneralizedTime)
    fields.Next(&tag, &field);
  Der algorithm;
  Der algorithm_oid;
  if (!fields.Expect(der::kSequence, &algorithm) ||
      !algorithm.Expect(der::kObject, &algorithm_oid) ||
      algorithm_oid.bytes() != kSha1Oid) {
    return Failed(TrustListFault::kNotSha1);
  }
  Der subjects;
  if (fields.PeekTag() == der::kSequence)
    fields.Expect(der::kSequence, &subjects);
  if (fields.PeekTag() == kExtensions) fields.Expect(kExtensions, &field);
  if (!fields.empty()) return Failed(TrustListFault::kMalformed);

  const TrustListError subjects_error = ReadSubjects(subjects, limits, &list);
  if (subjects_error.fault != TrustListFault::kNone) {
    TrustListRead read;
    read.error = subjects_error;
    return read;
  }
  TrustListRead read;
  read.list = std::move(list);
  return read;
}

}  // namespace

std::optional<std::time_t> FromFileTime(const uint8_t* octets, size_t size) {
  if (size != 8) return std::nullopt;
  uint64_t ticks = 0;
  for (int i = 7; i >= 0; --i) ticks = ticks << 8 | octets[i];
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr int64_t kEpochOffset = 11644473600;
  return static_cast<std::time_t>(static_cast<int64_t>(ticks / 10000000) -
                                  kEpochOffset);
}

TrustListRead ReadTrustList(const uint8_t* der, size_t size, TrustListKind kind,
                            const TrustListLimits& limits) {
  SignatureLimits caps;
  caps.elements = limits.elements;
  const SignatureLimitCheck over = CheckSignatureLimits(der, size, caps);
  if (over != SignatureLimitCheck::kWithinLimits) {
    TrustListRead read = Failed(TrustListFault::kOverCap);
    read.error.cap = over;
    return read;
  }
  const unsigned char* p = der;
  const ossl::Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(size)));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) ||
      pkcs7->d.sign == nullptr || pkcs7->d.sign->contents == nullptr) {
    return Failed(TrustListFault::kNotSignedData);
  }
  const ossl::Asn1ObjectPtr ctl_oid(OBJ_txt2obj("1.3.6.1.4.1.311.10.1", 1));
  const PKCS7* content = pkcs7->d.sign->contents;
  if (!ctl_oid || content->type == nullptr ||
      OBJ_cmp(content->type, ctl_oid.get()) != 0 ||
      content->d.other == nullptr) {
    return Failed(TrustListFault::kNotTrustListContent);
  }
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7.get());
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) {
    return Failed(TrustListFault::kNotOneSigner);
  }
  PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  const ASN1_TYPE* content_type =
      PKCS7_get_signed_attribute(signer, NID_pkcs9_contentType);
  if (content_type == nullptr || content_type->type != V_ASN1_OBJECT ||
      OBJ_cmp(content_type->value.object, ctl_oid.get()) != 0) {
    return Failed(TrustListFault::kSignerAttributes);
  }
  const std::optional<ByteView> octets = ContentOctets(content->d.other);
  const std::optional<ByteView> encoding = ContentEncoding(content->d.other);
  if (!octets || !encoding) return Failed(TrustListFault::kContentNotDer);
  const SignerCheck check =
      CheckSigner(signer, pkcs7->d.sign->cert, nullptr, *octets);
  if (check.outcome != SignerCheck::Outcome::kVerified) {
    return Failed(check.outcome == SignerCheck::Outcome::kNoCertificate
                      ? TrustListFault::kSignerCertificateMissing
                      : TrustListFault::kBadSignature);
  }
  return ReadContent(Der(encoding->data, encoding->size), kind, limits);
}

}  // namespace sealprobe

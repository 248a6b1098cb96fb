#include "authenticode/root_program/trust_list.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <algorithm>
#include <cstring>

#include "authenticode/der_limits.h"
#include "authenticode/der_reader.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/signed_data.h"
#include "hex.h"

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
// 1.3.6.1.4.1.311.10.11.15: identifiers are signature hashes.
const Oid kSignatureHashOid = {0x2b, 0x06, 0x01, 0x04, 0x01,
                               0x82, 0x37, 0x0a, 0x0b, 0x0f};
// 1.3.6.1.4.1.311.10.11, to which a property's id is appended.
const Oid kPropertyPrefix = {0x2b, 0x06, 0x01, 0x04, 0x01,
                             0x82, 0x37, 0x0a, 0x0b};
const Oid kCodeSigningOid = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03};
const Oid kTimeStampingOid = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x08};

// CERT_*_PROP_ID numbers (wincrypt.h).
constexpr int kEnhancedKeyUsageProperty = 9;
constexpr int kFriendlyNameProperty = 11;
constexpr int kSha256Property = 98;
constexpr int kDisallowedFileTimeProperty = 104;
constexpr int kDisallowedUsageProperty = 122;
constexpr int kNotBeforeFileTimeProperty = 126;
constexpr int kNotBeforeUsageProperty = 127;

constexpr uint8_t kExtensions = 0xa0;  // [0] EXPLICIT

TrustListRead Failed(TrustListFault fault) {
  TrustListRead read;
  read.error.fault = fault;
  return read;
}

// The next element, an OBJECT IDENTIFIER written in DER's one form: no arc
// starts with the octet 0x80 and the last octet ends an arc. Another form
// of the same number would compare unequal octet for octet, and so be
// taken for another identifier where Windows' decoder takes the number.
bool ExpectOid(Der& from, Der* oid) {
  if (!from.Expect(der::kObject, oid) || oid->empty() ||
      (oid->data()[oid->size() - 1] & 0x80) != 0) {
    return false;
  }
  for (size_t i = 0; i < oid->size(); ++i) {
    const bool starts_arc = i == 0 || (oid->data()[i - 1] & 0x80) == 0;
    if (starts_arc && oid->data()[i] == 0x80) return false;
  }
  return true;
}

// The dotted form of a minimally encoded identifier, for messages.
std::string Dotted(const Der& oid) {
  std::string out;
  uint64_t arc = 0;
  for (size_t i = 0; i < oid.size(); ++i) {
    arc = arc << 7 | (oid.data()[i] & 0x7f);
    if ((oid.data()[i] & 0x80) != 0) {
      if (arc >> 56) return "(too long)";
      continue;
    }
    if (out.empty()) {
      const uint64_t first = arc < 80 ? arc / 40 : 2;
      out = std::to_string(first) + "." + std::to_string(arc - 40 * first);
    } else {
      out += "." + std::to_string(arc);
    }
    arc = 0;
  }
  return out;
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
    if (count == max || !ExpectOid(list, &oid)) return false;
    const Oid id = oid.bytes();
    usages->code_signing |= id == kCodeSigningOid;
    usages->time_stamping |= id == kTimeStampingOid;
  }
  return true;
}

// A FILETIME property: eight octets, or none, which is no date.
bool ReadDate(const Der& value, std::optional<std::time_t>* date) {
  if (value.empty()) return true;
  *date = FromFileTime(value.data(), value.size());
  return date->has_value();
}

// Property 11, a NUL-terminated UTF-16LE string, in UTF-8; what is not
// UTF-16 comes out as U+FFFD.
std::string FriendlyName(const Der& value) {
  std::string out;
  const auto put = [&out](uint32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xc0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xe0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  };
  const size_t units = value.size() / 2;
  const auto unit = [&](size_t i) -> uint32_t {
    return value.data()[2 * i] | value.data()[2 * i + 1] << 8;
  };
  for (size_t i = 0; i < units; ++i) {
    const uint32_t c = unit(i);
    if (c == 0) break;
    if (c >= 0xd800 && c < 0xdc00 && i + 1 < units && unit(i + 1) >= 0xdc00 &&
        unit(i + 1) < 0xe000) {
      put(0x10000 + ((c - 0xd800) << 10) + (unit(i + 1) - 0xdc00));
      ++i;
    } else {
      put(c >= 0xd800 && c < 0xe000 ? 0xfffd : c);
    }
  }
  return out;
}

// The property number of an attribute type, or -1 when it is no
// certificate property (1.3.6.1.4.1.311.10.11.<id>, the id below 2^21).
int PropertyNumber(const Der& type) {
  const Oid id = type.bytes();
  if (id.size() <= kPropertyPrefix.size() ||
      id.size() > kPropertyPrefix.size() + 3 ||
      !std::equal(kPropertyPrefix.begin(), kPropertyPrefix.end(), id.begin())) {
    return -1;
  }
  int number = 0;
  for (size_t i = kPropertyPrefix.size(); i < id.size(); ++i) {
    number = number << 7 | (id[i] & 0x7f);
  }
  return number;
}

// One property's value into `properties`; false when it is malformed. The
// properties the verifier does not use are not read.
bool ReadProperty(int number, const Der& value, const TrustListLimits& limits,
                  RootProperties* properties) {
  switch (number) {
    case kEnhancedKeyUsageProperty:
      return ReadUsages(value, limits.usages, &properties->usages);
    case kDisallowedUsageProperty:
      return ReadUsages(value, limits.usages, &properties->disabled_usages);
    case kNotBeforeUsageProperty:
      return ReadUsages(value, limits.usages, &properties->not_before_usages);
    case kDisallowedFileTimeProperty:
      return ReadDate(value, &properties->disabled);
    case kNotBeforeFileTimeProperty:
      return ReadDate(value, &properties->not_before);
    case kSha256Property:
      if (value.size() != Sha256().size()) return false;
      properties->sha256.emplace();
      std::memcpy(properties->sha256->data(), value.data(), value.size());
      return true;
    default:
      return true;
  }
}

bool IdentifierFits(SubjectKey key, size_t size) {
  if (key == SubjectKey::kSha1) return size == Sha1().size();
  // MD5, SHA-1, SHA-256, SHA-384, SHA-512.
  return size == 16 || size == 20 || size == 32 || size == 48 || size == 64;
}

// One trustedSubjects entry, `subject`, the `at`th (from 1), into `list`.
// A root list's properties are read; a Disallowed list's are only walked,
// since being listed is all that counts there.
TrustListError ReadSubject(Der subject, size_t at, TrustListKind kind,
                           const TrustListLimits& limits, TrustList* list) {
  TrustListError error;
  error.subject = at;
  const auto failed = [&error](TrustListFault fault) {
    error.fault = fault;
    return error;
  };
  Der identifier;
  if (!subject.Expect(der::kOctetString, &identifier) ||
      !IdentifierFits(list->key, identifier.size())) {
    return failed(TrustListFault::kBadIdentifier);
  }
  error.identifier = identifier.bytes();
  Der attributes;
  if (subject.PeekTag() == der::kSet) subject.Expect(der::kSet, &attributes);
  if (!subject.empty()) return failed(TrustListFault::kSubjectMalformed);
  // The friendly name first, so that any fault below can name the root.
  std::vector<std::pair<int, Der>> values;
  for (size_t n = 0; !attributes.empty(); ++n) {
    if (n == limits.attributes)
      return failed(TrustListFault::kTooManyAttributes);
    Der attribute;
    Der type;
    Der set;
    Der value;
    if (!attributes.Expect(der::kSequence, &attribute) ||
        !ExpectOid(attribute, &type) || !attribute.Expect(der::kSet, &set) ||
        !attribute.empty() || !set.Expect(der::kOctetString, &value)) {
      return failed(TrustListFault::kBadProperty);
    }
    const int number = PropertyNumber(type);
    if (number == kFriendlyNameProperty)
      error.friendly_name = FriendlyName(value);
    values.emplace_back(number, value);
  }
  if (kind == TrustListKind::kDisallowed) {
    if (!list->identifiers.insert(error.identifier).second) {
      return failed(TrustListFault::kListedTwice);
    }
    return {};
  }
  RootProperties properties;
  for (const auto& [number, value] : values) {
    if (!ReadProperty(number, value, limits, &properties)) {
      error.property = number;
      return failed(TrustListFault::kBadProperty);
    }
  }
  Sha1 sha1;
  std::memcpy(sha1.data(), identifier.data(), sha1.size());
  if (!list->subjects.emplace(sha1, properties).second) {
    return failed(TrustListFault::kListedTwice);
  }
  return {};
}

// The trustedSubjects in `subjects`, into `list`.
TrustListError ReadSubjects(Der subjects, TrustListKind kind,
                            const TrustListLimits& limits, TrustList* list) {
  for (size_t count = 0; !subjects.empty(); ++count) {
    TrustListError error;
    error.subject = count + 1;
    Der subject;
    if (count == limits.subjects) {
      error.subject = 0;
      error.fault = TrustListFault::kTooManySubjects;
      return error;
    }
    if (!subjects.Expect(der::kSequence, &subject)) {
      error.fault = TrustListFault::kBadIdentifier;
      return error;
    }
    error = ReadSubject(subject, count + 1, kind, limits, list);
    if (error.fault != TrustListFault::kNone) return error;
  }
  return {};
}

// The subjectAlgorithm in `fields` into `list`; false (and `error` set)
// when it is missing or not one `kind` may have.
bool ReadSubjectAlgorithm(Der& fields, TrustListKind kind, TrustList* list,
                          TrustListError* error) {
  Der algorithm;
  Der oid;
  if (!fields.Expect(der::kSequence, &algorithm) ||
      !ExpectOid(algorithm, &oid)) {
    error->fault = TrustListFault::kMalformed;
    return false;
  }
  const Oid id = oid.bytes();
  if (id == kSha1Oid) {
    list->key = SubjectKey::kSha1;
  } else if (id == kSignatureHashOid && kind == TrustListKind::kDisallowed) {
    list->key = SubjectKey::kSignatureHash;
  } else {
    error->fault = TrustListFault::kSubjectAlgorithm;
    error->oid = Dotted(oid);
    return false;
  }
  return true;
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
  if (!fields.Expect(der::kSequence, &usages) || !ExpectOid(usages, &usage) ||
      !usages.empty()) {
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
    list.sequence_number = HexOf(field);
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
  TrustListRead read;
  if (!ReadSubjectAlgorithm(fields, kind, &list, &read.error)) return read;
  Der subjects;
  if (fields.PeekTag() == der::kSequence)
    fields.Expect(der::kSequence, &subjects);
  // The extensions (since 2023, the Certificate Transparency logs) say
  // nothing about which roots are trusted.
  if (fields.PeekTag() == kExtensions) fields.Expect(kExtensions, &field);
  if (!fields.empty()) return Failed(TrustListFault::kMalformed);

  read.error = ReadSubjects(subjects, kind, limits, &list);
  if (read.error.fault == TrustListFault::kNone) read.list = std::move(list);
  return read;
}

// A CTL's SignedData without its content, for OpenSSL to decode, and where
// the content lies in the bytes it came from. A list of hundreds of roots
// is mostly content, which OpenSSL would copy whole; read where it lies,
// it is never held twice.
struct DetachedList {
  std::vector<uint8_t> signed_data;  // the ContentInfo, content left out
  Der content;                       // the CertificateTrustList SEQUENCE
};

void Append(const Der& element, std::vector<uint8_t>* out) {
  out->insert(out->end(), element.data(), element.data() + element.size());
}

// A header of `tag` for `length` octets, then `parts`, into `out`.
void AppendElement(uint8_t tag, const std::vector<Der>& parts,
                   std::vector<uint8_t>* out) {
  size_t length = 0;
  for (const Der& part : parts) length += part.size();
  uint8_t header[2 + sizeof(size_t)];
  out->insert(out->end(), header,
              header + der::EncodeHeader(tag, length, header));
  for (const Der& part : parts) Append(part, out);
}

// `der` read as ContentInfo { type, [0] SignedData { version,
// digestAlgorithms, encapContentInfo { type, [0] content }, the rest } },
// in definite lengths, and written again without the content; nullopt
// when it is not so.
std::optional<DetachedList> DetachContent(const uint8_t* der, size_t size) {
  Der all(der, size);
  Der info, contents, type, explicit_data, signed_data, version, algorithms,
      encapsulated, encapsulated_type, wrapper;
  DetachedList out;
  if (!all.Expect(der::kSequence, &info) ||
      !info.Expect(der::kObject, &contents, &type) ||
      !info.Expect(der::kContext0, &explicit_data) || !info.empty() ||
      !explicit_data.Expect(der::kSequence, &signed_data) ||
      !explicit_data.empty() ||
      !signed_data.Expect(der::kInteger, &contents, &version) ||
      !signed_data.Expect(der::kSet, &contents, &algorithms) ||
      !signed_data.Expect(der::kSequence, &encapsulated) ||
      !encapsulated.Expect(der::kObject, &contents, &encapsulated_type) ||
      !encapsulated.Expect(der::kContext0, &wrapper) || !encapsulated.empty() ||
      !wrapper.Expect(der::kSequence, &contents, &out.content) ||
      !wrapper.empty()) {
    return std::nullopt;
  }
  // `signed_data` holds what follows now: certificates, CRLs, signers.
  std::vector<uint8_t> encapsulated_left;
  AppendElement(der::kSequence, {encapsulated_type}, &encapsulated_left);
  std::vector<uint8_t> body;
  AppendElement(
      der::kSequence,
      {version, algorithms,
       Der(encapsulated_left.data(), encapsulated_left.size()), signed_data},
      &body);
  std::vector<uint8_t> explicit_body;
  AppendElement(der::kContext0, {Der(body.data(), body.size())},
                &explicit_body);
  AppendElement(der::kSequence,
                {type, Der(explicit_body.data(), explicit_body.size())},
                &out.signed_data);
  return out;
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
  // The signature's caps, but for the element count.
  SignatureLimits caps;
  caps.elements = limits.elements;
  const SignatureLimitCheck over = CheckSignatureLimits(der, size, caps);
  if (over != SignatureLimitCheck::kWithinLimits) {
    TrustListRead read = Failed(TrustListFault::kOverCap);
    read.error.cap = over;
    return read;
  }
  const std::optional<DetachedList> detached = DetachContent(der, size);
  if (!detached) return Failed(TrustListFault::kNotSignedData);
  const unsigned char* p = detached->signed_data.data();
  const ossl::Pkcs7Ptr pkcs7(
      d2i_PKCS7(nullptr, &p, static_cast<long>(detached->signed_data.size())));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) ||
      pkcs7->d.sign == nullptr || pkcs7->d.sign->contents == nullptr) {
    return Failed(TrustListFault::kNotSignedData);
  }
  const ossl::Asn1ObjectPtr ctl_oid(OBJ_txt2obj("1.3.6.1.4.1.311.10.1", 1));
  const PKCS7* content = pkcs7->d.sign->contents;
  if (!ctl_oid || content->type == nullptr ||
      OBJ_cmp(content->type, ctl_oid.get()) != 0) {
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
  // The messageDigest is over the CertificateTrustList's contents octets.
  Der whole = detached->content;
  Der octets;
  whole.Expect(der::kSequence, &octets);
  const SignerCheck check = CheckSigner(signer, pkcs7->d.sign->cert, nullptr,
                                        ByteView{octets.data(), octets.size()});
  if (check.outcome != SignerCheck::Outcome::kVerified) {
    return Failed(check.outcome == SignerCheck::Outcome::kNoCertificate
                      ? TrustListFault::kSignerCertificateMissing
                      : TrustListFault::kBadSignature);
  }
  return ReadContent(detached->content, kind, limits);
}

}  // namespace sealprobe

// Windows' certificate trust lists (CTLs): the root program's authroot.stl
// and its Disallowed list, disallowedcert.stl. A CTL is a PKCS#7 SignedData
// whose content (type 1.3.6.1.4.1.311.10.1) is
//   CertificateTrustList ::= SEQUENCE {
//     version           INTEGER DEFAULT 0,
//     subjectUsage      SEQUENCE OF OBJECT IDENTIFIER,
//     listIdentifier    OCTET STRING OPTIONAL,
//     sequenceNumber    INTEGER OPTIONAL,
//     thisUpdate        UTCTime or GeneralizedTime,
//     nextUpdate        UTCTime or GeneralizedTime OPTIONAL,
//     subjectAlgorithm  AlgorithmIdentifier,
//     trustedSubjects   SEQUENCE OF SEQUENCE {
//                         subjectIdentifier  OCTET STRING,
//                         attributes         SET OF Attribute OPTIONAL
//                       } OPTIONAL,
//     extensions        [0] EXPLICIT Extensions OPTIONAL }
// Each subject is a certificate named by a digest of its DER; its
// attributes are Windows' certificate properties, of type
// 1.3.6.1.4.1.311.10.11.<property id>, each value an OCTET STRING.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_TRUST_LIST_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_TRUST_LIST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "authenticode/certificate_bytes.h"
#include "authenticode/der_limits.h"

namespace sealprobe {

// A list of extended key usages, as far as the verifier asks of it.
struct UsageList {
  bool present = false;  // the property is there
  bool code_signing = false;
  bool time_stamping = false;
};

// The properties of one subject that decide what Windows trusts it for. A
// date property whose value is empty is no date: Microsoft's lists hold
// such values (an empty NotBefore on roots whose NotBefore was withdrawn).
struct RootProperties {
  UsageList usages;                       // 9: what it may serve
  std::optional<std::time_t> disabled;    // 104: disabled from this time
  UsageList disabled_usages;              // 122: ...for these uses only
  std::optional<std::time_t> not_before;  // 126: certificates issued from
                                          // this time are not trusted
  UsageList not_before_usages;            // 127: ...for these uses only
  std::optional<Sha256> sha256;           // 98: the SHA-256 of its DER
};

// Which list a CTL is, by its subjectUsage.
enum class TrustListKind {
  kRoots,       // 1.3.6.1.4.1.311.10.3.9, the root program (authroot.stl)
  kDisallowed,  // 1.3.6.1.4.1.311.10.3.30, the Disallowed list
};

// How a list names its subjects: its subjectAlgorithm.
enum class SubjectKey {
  kSha1,  // 1.3.14.3.2.26: the SHA-1 of the certificate's DER
  // 1.3.6.1.4.1.311.10.11.15 (wincrypt.h's szOID_CERT_SIGNATURE_HASH_PROP_ID,
  // the Disallowed list's): the hash of the certificate's TBSCertificate
  // under its own signature's digest, or the MD5 of its public key
  // (CERT_SUBJECT_PUBLIC_KEY_MD5_HASH_PROP_ID); 16 to 64 octets.
  kSignatureHash,
};

struct TrustList {
  std::time_t this_update = 0;
  // Hexadecimal, as written; empty if none. Microsoft's only grow.
  std::string sequence_number;
  SubjectKey key = SubjectKey::kSha1;
  // A root list's subjects, by the SHA-1 of each one's DER.
  std::map<Sha1, RootProperties> subjects;
  // A Disallowed list's identifiers, as SubjectKey says (SHA-1s for kSha1).
  std::set<std::vector<uint8_t>> identifiers;
};

// Why bytes are not a CTL of the kind asked for.
enum class TrustListFault {
  kNone,
  kOverCap,                   // over `cap` of der_limits.h
  kNotSignedData,             // not a PKCS#7 SignedData
  kNotTrustListContent,       // its content type is not a CTL's
  kNotOneSigner,              // not exactly one signer
  kSignerAttributes,          // its signed attributes do not name a CTL
  kSignerCertificateMissing,  // its signer's certificate is not included
  kBadSignature,              // its signature does not verify
  kNotCertificateTrustList,   // its content is not a CertificateTrustList
  kNotVersion1,
  kUsageNotOneOid,     // its subjectUsage is not one object identifier
  kNotRootList,        // that is not the root list's
  kNotDisallowedList,  // nor, asked for, the Disallowed list's
  kNoThisUpdate,       // its thisUpdate is not a valid time
  kSubjectAlgorithm,   // its subjectAlgorithm is none this kind of list
                       // may have (`oid`, dotted)
  kMalformed,          // other fields out of place
  kTooManySubjects,    // more than TrustListLimits::subjects
  // Subject `subject` (from 1; `identifier` and `friendly_name` when read):
  kBadIdentifier,      // not an identifier of the list's kind and its
                       // attributes
  kSubjectMalformed,   // something after them
  kTooManyAttributes,  // more than TrustListLimits::attributes
  kBadProperty,        // property `property` is malformed
  kListedTwice,
};

struct TrustListError {
  TrustListFault fault = TrustListFault::kNone;
  SignatureLimitCheck cap = SignatureLimitCheck::kWithinLimits;
  size_t subject = 0;
  std::vector<uint8_t> identifier;  // the subject's, as listed
  std::string friendly_name;        // its property 11, in UTF-8
  int property = -1;                // the property at fault, by number
  std::string oid;                  // for kSubjectAlgorithm
};

struct TrustListRead {
  std::optional<TrustList> list;  // when it is one
  TrustListError error;           // why not
};

// Caps on what a CTL may hold, far above Windows' own lists (515 roots in
// 2026, each with under a dozen properties, every value under 1 KiB).
struct TrustListLimits {
  // Elements of the whole SignedData: the signature's other caps hold
  // (der_limits.h), but its count does not fit a list of hundreds of
  // roots, each with its properties, which holds tens of thousands.
  size_t elements = 2000000;
  size_t subjects = 20000;
  size_t attributes = 64;  // per subject
  size_t usages = 64;      // object identifiers per usage list
};

// Reads the CTL in the `size` bytes at `der`, which must be of `kind`.
// Checks, before anything is believed: the walk of der_limits.h over the
// whole SignedData; one signer, whose signed attributes name the CTL's
// content type and which CheckSigner (signed_data.h) finds and verifies
// over the content; then the content's form, the subjectUsage naming
// `kind`, and the subjectAlgorithm: SHA-1 with 20-octet identifiers for a
// root list; that or kSignatureHash with 16- to 64-octet ones for a
// Disallowed list; none named twice. Every object identifier compared must
// be minimally encoded: one that is not could be read as another. The
// extensions ([0]) and the properties the verifier does not use are left
// unread. Its signer need not chain anywhere: whether to believe the list
// is the caller's choice (AuthenticateTrustList, list_signature.h, is
// sealprobe-roots'). Never reads outside the bytes given; never throws.
TrustListRead ReadTrustList(const uint8_t* der, size_t size, TrustListKind kind,
                            const TrustListLimits& limits = {});

// The time a Windows FILETIME (100-nanosecond intervals since 1601) in 8
// little-endian octets stands for, to the second; nullopt for another size.
std::optional<std::time_t> FromFileTime(const uint8_t* octets, size_t size);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_TRUST_LIST_H_

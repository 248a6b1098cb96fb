#include "explain/wording.h"

#include <variant>

namespace sealprobe {
namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

std::string StoreText(const StoreError& e) {
  const std::string at = " at offset " + Number(e.offset);
  switch (e.fault) {
    case StoreFault::kNone:
      break;
    case StoreFault::kNoHeader:
      return "it does not start as a serialized store (0, \"CERT\")";
    case StoreFault::kHeaderCutShort:
      return "an element header" + at + " is cut short";
    case StoreFault::kTooManyElements:
      return "it holds more than " + Number(kMaxStoreElements) + " elements";
    case StoreFault::kEncodingType:
      return "the element" + at + " has encoding type " + Number(e.value) +
             ", not 1";
    case StoreFault::kPastTheEnd:
      return "the element" + at + " says it is " + Number(e.value) +
             " bytes long, past the end of the file";
    case StoreFault::kCertificateTooLarge:
      return "the certificate" + at + " is larger than " +
             Number(kMaxStoreCertificateBytes) + " bytes";
  }
  return "it is a serialized store";
}

// `name`: the member looked for.
std::string CabinetText(const CabinetError& e, const std::string& name) {
  const std::string library =
      e.library_text.empty() ? std::string() : ": " + e.library_text;
  switch (e.fault) {
    case CabinetFault::kNone:
      break;
    case CabinetFault::kNoLibrary:
      return "it cannot be unpacked: libarchive does not load" + library;
    case CabinetFault::kNotACabinet:
      return "it is not a cabinet" + library;
    case CabinetFault::kDoesNotUnpack:
      return "it does not unpack" + library;
    case CabinetFault::kOverCap:
      return "it unpacks to more than " + Number(FolderLimits{}.file_bytes) +
             " bytes";
    case CabinetFault::kTooManyMembers:
      return "it holds more than " + Number(kMaxCabinetMembers) + " members";
    case CabinetFault::kEmpty:
      return "it holds nothing";
    case CabinetFault::kNoSuchMember:
      return "it holds no " + name;
  }
  return "it unpacks";
}

std::string TrustListText(const TrustListError& e) {
  const TrustListLimits limits;
  const std::string subject = "subject " + Number(e.subject);
  switch (e.fault) {
    case TrustListFault::kNone:
      break;
    case TrustListFault::kOverCap:
      return "it is not a SignedData within the caps on its work: " +
             CapText(e.cap);
    case TrustListFault::kNotSignedData:
      return "it is not a PKCS#7 SignedData";
    case TrustListFault::kNotTrustListContent:
      return "its content is not a certificate trust list";
    case TrustListFault::kNotOneSigner:
      return "it does not have exactly one signer";
    case TrustListFault::kSignerAttributes:
      return "its signer's attributes do not name a trust list";
    case TrustListFault::kContentNotDer:
      return "its content is not DER";
    case TrustListFault::kSignerCertificateMissing:
      return "its signer's certificate is not included";
    case TrustListFault::kBadSignature:
      return "its signature does not verify";
    case TrustListFault::kNotCertificateTrustList:
      return "its content is not a CertificateTrustList";
    case TrustListFault::kNotVersion1:
      return "its CertificateTrustList is not version 1";
    case TrustListFault::kUsageNotOneOid:
      return "its subjectUsage is not one object identifier";
    case TrustListFault::kNotRootList:
      return "its subjectUsage is not the root list's "
             "(1.3.6.1.4.1.311.10.3.9)";
    case TrustListFault::kNotDisallowedList:
      return "its subjectUsage is not the Disallowed list's "
             "(1.3.6.1.4.1.311.10.3.30)";
    case TrustListFault::kNoThisUpdate:
      return "its thisUpdate is not a valid time";
    case TrustListFault::kNotSha1:
      return "its subjectAlgorithm is not SHA-1";
    case TrustListFault::kMalformed:
      return "its CertificateTrustList is malformed";
    case TrustListFault::kTooManySubjects:
      return "it lists more than " + Number(limits.subjects) + " subjects";
    case TrustListFault::kSubjectNotSha1:
      return subject + " is not a SHA-1 identifier and its attributes";
    case TrustListFault::kSubjectMalformed:
      return subject + " is malformed";
    case TrustListFault::kTooManyAttributes:
      return subject + " has more than " + Number(limits.attributes) +
             " attributes";
    case TrustListFault::kBadProperty:
      return subject + " has a malformed property";
    case TrustListFault::kListedTwice:
      return subject + " is listed twice";
  }
  return "it is a trust list";
}

// What a load error's cause says, after `what`.
std::string CauseText(const TrustLoadError& error) {
  if (const auto* cabinet = std::get_if<CabinetError>(&error.cause)) {
    return CabinetText(*cabinet, error.detail);
  }
  if (const auto* list = std::get_if<TrustListError>(&error.cause)) {
    return TrustListText(*list);
  }
  if (const auto* store = std::get_if<StoreError>(&error.cause)) {
    return StoreText(*store);
  }
  return "no reason given";
}

}  // namespace

std::string LoadErrorText(const TrustLoadError& error) {
  const FolderLimits limits;
  switch (error.fault) {
    case LoadFault::kNone:
      break;
    case LoadFault::kNotAFolder:
      return "is not a folder, or does not exist";
    case LoadFault::kFolderUnreadable:
      return "cannot be read: " + error.detail;
    case LoadFault::kTooManyFiles:
      return "holds more than " + Number(limits.files) + " files";
    case LoadFault::kNoRootList:
      return "holds no root list (authroot.stl or authrootstl.cab)";
    case LoadFault::kFileUnreadable:
      return "cannot be read";
    case LoadFault::kFileOverCap:
      return "is over its cap (" + Number(limits.file_bytes) +
             " bytes a file, " + Number(limits.folder_bytes) + " in all)";
    case LoadFault::kCabinet:
      return CauseText(error);
    case LoadFault::kListsDiffer:
      return "holds another list than " + error.detail;
    case LoadFault::kTrustList:
      return "is not a valid trust list: " + CauseText(error);
    case LoadFault::kStore:
      return "is not a valid serialized store: " + CauseText(error);
    case LoadFault::kCertificateTooLarge:
      return "is larger than a certificate may be";
    case LoadFault::kNotACertificate:
      return "is not a DER certificate";
    case LoadFault::kStoreCertificate:
      return "holds a certificate that does not decode (number " +
             Number(error.index) + ")";
    case LoadFault::kRootSubject:
      return "holds a root whose subject does not decode";
    case LoadFault::kNoMemory:
      return "could not be held in memory";
  }
  return "loads";
}

std::string CapText(SignatureLimitCheck cap, const SignatureLimits& limits) {
  using C = SignatureLimitCheck;
  switch (cap) {
    case C::kWithinLimits:
      break;
    case C::kTooDeep:
      return "its elements nest more than " + Number(limits.depth) +
             " levels deep";
    case C::kTooManyElements:
      return "it has more than " + Number(limits.elements) + " elements";
    case C::kTooManyCertificates:
      return "a SignedData in it holds more than " +
             Number(limits.certificates) + " certificates";
    case C::kCertificatesTooLarge:
      return "a SignedData's certificates take more than " +
             Number(limits.certificate_bytes) + " bytes";
    case C::kTooManyCrls:
      return "a SignedData in it holds more than " + Number(limits.crls) +
             " CRLs";
    case C::kCrlsTooLarge:
      return "a SignedData's CRLs take more than " + Number(limits.crl_bytes) +
             " bytes";
    case C::kTooManySetMembers:
      return "a SignedData has more than " + Number(limits.set_members) +
             " digest algorithms or signer infos";
    case C::kTooManyAttributes:
      return "a signer has more than " + Number(limits.attributes) +
             " attributes in one set";
    case C::kTooManyValues:
      return "an attribute has more than " + Number(limits.values) + " values";
    case C::kAuthenticatedAttributesTooLarge:
      return "a signer's authenticated attributes take more than " +
             Number(limits.authenticated_attribute_bytes) + " bytes";
    case C::kTimestampTooLarge:
      return "a timestamp token or counter-signature takes more than " +
             Number(limits.timestamp_bytes) + " bytes";
    case C::kConstructedStringInCertificate:
      return "a certificate or CRL holds a string in BER's constructed form";
    case C::kTooManyPolicies:
      return "a certificate has more than " + Number(limits.policies) +
             " policies";
    case C::kTooManyPolicyMappings:
      return "a certificate has more than " + Number(limits.policy_mappings) +
             " policy mappings";
    case C::kTooManyNameSubtrees:
      return "a certificate's name constraints list more than " +
             Number(limits.name_subtrees) + " subtrees";
    case C::kTooManyAltNames:
      return "a certificate's alternative names are more than " +
             Number(limits.alt_names);
    case C::kTooManyNameEntries:
      return "a certificate's issuer or subject has more than " +
             Number(limits.name_entries) + " relative names";
  }
  return "it is within every cap";
}

}  // namespace sealprobe

#include "explain/words/wording.h"

#include <openssl/x509_vfy.h>

#include <cstring>
#include <variant>

#include "authenticode/key_policy.h"
#include "authenticode/msi_package.h"
#include "authenticode/pe_image.h"
#include "explain/words/describe.h"
#include "explain/words/names.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

// An installer's signature streams' names, their first character (0x05)
// written as the documentation writes it.
constexpr char kSignatureStream[] = "\\x05DigitalSignature";
constexpr char kMetadataStream[] = "\\x05MsiDigitalSignatureEx";

bool IsInstaller(const Verification& v) {
  return v.format == SubjectFormat::kInstaller;
}

// What the digest the signature carries is of: a PE's image, an installer's
// content.
const char* Digested(const Verification& v) {
  return IsInstaller(v) ? "the installer's digest" : "the image hash";
}

// Which class a compound file that is no installer has.
std::string NotInstallerText(const Verification& v) {
  std::string text =
      "it is a compound file, but not a Windows Installer package or patch";
  if (!v.compound) return text;
  const Clsid& clsid = v.compound->layout.root_clsid;
  text += ": its root storage's class is " + ClsidText(clsid);
  const InstallerClass kind = InstallerClassOf(clsid);
  if (kind != InstallerClass::kNone) {
    text += std::string(", a ") + NamesOf(kind).text + "'s";
  }
  return text;
}

// What an installer's \x05MsiDigitalSignatureEx stream holds against what
// its entries give.
std::string MetadataText(const Verification& v) {
  std::string text =
      "the installer's entries (names, sizes, times, state bits) changed "
      "after signing: its " +
      std::string(kMetadataStream) + " stream holds ";
  const CompoundEvidence* e = v.compound ? &*v.compound : nullptr;
  if (e == nullptr || !e->metadata_hash) return text + "no pre-hash of them";
  const size_t expected = e->metadata_hash->size();
  if (e->metadata_size != expected) {
    return text + Number(e->metadata_size.value_or(0)) + " bytes, not the " +
           Number(expected) + " of their pre-hash";
  }
  return text + "another pre-hash than theirs";
}

// A size in bytes: "16 MiB" when it is a whole number of them.
std::string Size(uint64_t bytes) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  if (bytes != 0 && bytes % kMiB == 0) return Number(bytes / kMiB) + " MiB";
  return Number(bytes) + " bytes";
}

std::string StampFaultText(StampFault fault) {
  switch (fault) {
    case StampFault::kNone:
      break;
    case StampFault::kNotAToken:
      return "it is not a SignedData over one TSTInfo";
    case StampFault::kNotACounterSignature:
      return "it is not a SignerInfo with authenticated attributes";
    case StampFault::kSignerAlgorithm:
      return "its digest or its signer's key is one Windows cannot use";
    case StampFault::kSignerCertificateMissing:
      return "its signer's certificate is not included";
    case StampFault::kBadSignature:
      return "its signature does not verify";
    case StampFault::kOtherSignature:
      return "it stamps another signature";
    case StampFault::kNoValidTime:
      return "its time is not a valid time";
  }
  return "its own checks pass";
}

std::string SignatureFaultText(const Verification& v) {
  const Signature& signature = *v.signature;
  switch (signature.fault) {
    case SignatureFault::kNone:
      break;
    case SignatureFault::kOverCap:
      return "its signature is over a cap on the work it may ask: " +
             CapText(signature.cap);
    case SignatureFault::kNotSignedData:
      return "its signature is not a PKCS#7 SignedData";
    case SignatureFault::kNotIndirectData:
      return "its signature's content is not an SpcIndirectDataContent";
    case SignatureFault::kContentShape:
      return "its signature's content is not the shape its version gives";
    case SignatureFault::kNotOneSigner:
      return "its signature does not have exactly one signer";
    case SignatureFault::kContentTypeNotSigned:
      return "its signer's authenticated attributes do not name the content "
             "type it signs";
    case SignatureFault::kIndirectDataMalformed:
      return "its signature's SpcIndirectDataContent does not decode";
    case SignatureFault::kBytesAfterSignature:
      return Number(v.bytes_after_signature.value_or(0)) +
             " bytes follow its PKCS#7 in the installer's " + kSignatureStream +
             " stream";
    case SignatureFault::kNotForThisFormat:
      return "its signature does not sign an installer's SIP information "
             "(1.3.6.1.4.1.311.2.1.30)";
  }
  return "its signature is an Authenticode signature";
}

// The deciding problem of `chain`, after `which`.
std::string ChainText(const char* which,
                      const std::optional<ChainResult>& chain) {
  if (!chain || chain->deciding() == nullptr) return which;
  return which + ProblemText(*chain->deciding(), *chain);
}

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

// "subject 103 (ab12…, VeriSign Class 3 …)": the subject by its place,
// identifier and friendly name, as far as they were read.
std::string SubjectText(const TrustListError& e) {
  std::string out = "subject " + Number(e.subject);
  if (e.identifier.empty()) return out;
  out += " (" + HexOf(e.identifier);
  if (!e.friendly_name.empty()) out += ", " + e.friendly_name;
  return out + ")";
}

std::string TrustListText(const TrustListError& e) {
  const TrustListLimits limits;
  const std::string subject = SubjectText(e);
  switch (e.fault) {
    case TrustListFault::kNone:
      break;
    case TrustListFault::kOverCap: {
      // ReadTrustList's caps: the signature's, but for the element count.
      SignatureLimits caps;
      caps.elements = limits.elements;
      return "it is not a SignedData within the caps on its work: " +
             CapText(e.cap, caps);
    }
    case TrustListFault::kNotSignedData:
      return "it is not a PKCS#7 SignedData";
    case TrustListFault::kNotTrustListContent:
      return "its content is not a certificate trust list";
    case TrustListFault::kNotOneSigner:
      return "it does not have exactly one signer";
    case TrustListFault::kSignerAttributes:
      return "its signer's attributes do not name a trust list";
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
    case TrustListFault::kSubjectAlgorithm:
      return "its subjectAlgorithm (" + e.oid +
             ") is not one this list may name its subjects by";
    case TrustListFault::kMalformed:
      return "its CertificateTrustList is malformed";
    case TrustListFault::kTooManySubjects:
      return "it lists more than " + Number(limits.subjects) + " subjects";
    case TrustListFault::kBadIdentifier:
      return subject +
             " is not an identifier of the list's kind and its "
             "attributes";
    case TrustListFault::kSubjectMalformed:
      return subject + " is malformed";
    case TrustListFault::kTooManyAttributes:
      return subject + " has more than " + Number(limits.attributes) +
             " attributes";
    case TrustListFault::kBadProperty:
      return subject + " has a malformed property" +
             (e.property >= 0 ? " (" + Number(e.property) + ")"
                              : std::string());
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

// A root-program property with a date: "its NotBefore property
// (2000-01-01T00:00:00Z) distrusts certificates issued under it from then
// on for code signing".
std::string DatedProperty(const char* name, const char* what,
                          const ChainProblem& problem,
                          const ChainResult& chain) {
  return std::string("its ") + name + " property (" +
         (problem.date ? FormatTime(*problem.date) : "no date") +
         ") distrusts " + what + " from then on" +
         (problem.for_use_only ? std::string(" for ") + UseText(chain.use)
                               : "");
}

std::string NotBeforeText(const ChainProblem& problem,
                          const ChainResult& chain) {
  X509* issued = chain.CertificateAt(problem.cause_depth);
  const std::optional<std::time_t> when =
      issued != nullptr ? ToUnixTime(X509_get0_notBefore(issued))
                        : std::nullopt;
  return DatedProperty("NotBefore", "certificates issued under it", problem,
                       chain) +
         ", and " + SubjectOf(issued) + " was issued " +
         (when ? FormatTime(*when) : "at no valid time");
}

}  // namespace

std::string CompoundFaultText(CompoundFault fault) {
  switch (fault) {
    case CompoundFault::kNone:
      break;
    case CompoundFault::kHeader:
      return "its header is not one [MS-CFB] allows (byte order, version and "
             "sector size, mini sector size, mini stream cutoff), or is cut "
             "short";
    case CompoundFault::kTooManySectors:
      return "it has more than " + Number(kMaxCompoundSectors) + " sectors";
    case CompoundFault::kTooManyEntries:
      return "its directory has more than " + Number(kMaxDirectoryEntries) +
             " entries";
    case CompoundFault::kTooManyMiniSectors:
      return "its mini stream has more than " + Number(kMaxMiniSectors) +
             " sectors";
    case CompoundFault::kFatLocation:
      return "a FAT or DIFAT sector is outside the file, or fewer are listed "
             "than its header counts";
    case CompoundFault::kBrokenChain:
      return "a chain of sectors leaves the file, the FAT or the mini stream, "
             "meets a free or special sector, or ends before its stream";
    case CompoundFault::kSectorReused:
      return "a sector is met twice: a chain loops, or two chains share it";
    case CompoundFault::kBadEntry:
      return "a directory entry has a name that is not 1 to 31 UTF-16 code "
             "units and a terminator, an unknown type, a sibling or child "
             "outside the directory, or a stream larger than the file";
    case CompoundFault::kBadTree:
      return "its directory is no tree: its root is not entry 0 of root "
             "type, an entry is reached twice, or a stream has a child";
    case CompoundFault::kDuplicateName:
      return "two children of one storage have the same name";
  }
  return "its structure reads";
}

std::string UnsupportedText(FileKind kind) {
  return std::string("it is ") + NamesOf(kind).text +
         ", a kind of file Windows signs that sealprobe cannot verify";
}

std::string DecidingRule(const FileRecord& record) {
  if (!record.found()) return StagingMissingText(*record.entry);
  if (record.unsupported) return UnsupportedText(*record.unsupported);
  if (record.policy) {
    const size_t index = record.policy->signature;
    const Verification& v =
        index == 0 ? record.verification : record.others[index - 1];
    return PolicyText(*record.policy, v);
  }
  return VerificationRule(record);
}

std::string FailureReason(const FileRecord& record) {
  const std::string rule = DecidingRule(record);
  return record.read_error.empty() ? rule : rule + ": " + record.read_error;
}

std::string WindowsVerdict(const FileRecord& record) {
  if (!record.found()) return {};
  const uint32_t status = record.verification.result.status;
  return "Windows' verdict: " + record.verdict + " (" +
         status::StatusNameOf(status) + ", " + status::StatusHex(status) + ")";
}

std::string VerificationRule(const FileRecord& record) {
  const std::optional<TrustLoadError>& load_error = record.trust.load_error;
  return RuleText(record.verification, load_error ? &*load_error : nullptr);
}

std::string RuleText(const Verification& v, const TrustLoadError* load_error) {
  switch (v.rule) {
    case Rule::kNotOpened:
      return "it could not be opened as a regular file";
    case Rule::kUnreadable:
      return "it could not be read";
    case Rule::kNotPe:
      return "it is neither a PE image nor a compound file";
    case Rule::kNotInstaller:
      return NotInstallerText(v);
    case Rule::kMalformedCompoundFile:
      return "it is a compound file whose structure cannot be read: " +
             CompoundFaultText(v.compound ? v.compound->fault
                                          : CompoundFault::kNone);
    case Rule::kNoSignature:
      if (IsInstaller(v)) {
        return std::string("its root storage has no ") + kSignatureStream +
               " stream";
      }
      return "it has no certificate table that holds a signature and ends "
             "the file";
    case Rule::kSignatureTooLarge:
      return "its signature is larger than " + Size(kMaxSignatureSize);
    case Rule::kMalformedSignature:
      return v.signature ? SignatureFaultText(v)
                         : "its signature is not an Authenticode signature";
    case Rule::kImageDigestUnsupported:
      return std::string(Digested(v)) +
             " is not SHA-1, SHA-256, SHA-384 or SHA-512";
    case Rule::kSignerAlgorithmUnsupported:
      return "the signer's digest, or its signature algorithm or key, is one "
             "Windows cannot verify with";
    case Rule::kSignerCertificateMissing:
      return "no certificate in the signature has the issuer and serial "
             "number the signer names";
    case Rule::kSignerSignatureBad:
      return "the signer's signature does not verify";
    case Rule::kMetadataHashMismatch:
      return MetadataText(v);
    case Rule::kImageHashMismatch:
      if (IsInstaller(v)) {
        return "the installer's digest, of its streams and CLSIDs, is not the "
               "one the signature carries: it was changed after signing";
      }
      return "the image hash is not the one the signature carries: the file "
             "was changed after signing";
    case Rule::kTimestampInvalid:
      return "the timestamp fails its own checks: " +
             StampFaultText(v.stamp ? v.stamp->fault : StampFault::kNone);
    case Rule::kTrustNotLoaded:
      return "Windows' root program could not be loaded" +
             (load_error != nullptr
                  ? ": " + load_error->file + " " + LoadErrorText(*load_error)
                  : std::string());
    case Rule::kSignerChain:
      return ChainText("in the signer's chain, ", v.chain);
    case Rule::kAuthorityChain:
      return ChainText("in the timestamp authority's chain, ",
                       v.authority_chain);
    case Rule::kValid:
      break;
  }
  return "every check passes";
}

std::string PolicyText(const PolicyFault& fault, const Verification& v) {
  const std::string which =
      fault.signature == 0 ? std::string("the primary signature")
                           : "signature " + std::to_string(fault.signature + 1);
  switch (fault.kind) {
    case PolicyFault::Kind::kSignerNotPinned:
      return "the signer's certificate of " + which +
             " is none of those --signer names";
    case PolicyFault::Kind::kSignerEkuNotPinned:
      return "the signer's certificate of " + which +
             " names none of the extended key usages --signer-eku names";
    case PolicyFault::Kind::kChainNotPinned:
      return "the chain of " + which +
             " holds none of the certificates --chain-includes names above "
             "its signer's";
    case PolicyFault::Kind::kNoTimestamp:
      return which +
             " has no valid timestamp, which --require-timestamp "
             "requires";
    case PolicyFault::Kind::kSignatureInvalid:
      break;
  }
  return which + " is not valid, which --all-signatures requires: " +
         RuleText(v, nullptr);
}

std::string StagingMissingText(const StagingEntry& entry) {
  return "it is in neither staged folder: sealprobe looks for " +
         entry.common_files_path + ", then " + entry.product_path;
}

std::string ProblemText(const ChainProblem& problem, const ChainResult& chain) {
  const std::string use = UseText(chain.use);
  switch (problem.finding) {
    case Finding::kEngineError:
      return X509_verify_cert_error_string(problem.x509_error);
    case Finding::kNotStarted:
      return "no chain could be started";
    case Finding::kEngineFailed:
      return "the chain engine failed";
    case Finding::kStoreTrustsOtherUses:
      return "the store trusts it only for other uses";
    case Finding::kStoreRejects:
      return "the store rejects it for this use";
    case Finding::kWeakRsaKey:
      return "its RSA key is under " + Number(kMinRsaBits) + " bits";
    case Finding::kUnsupportedKey:
      return "its key is one Windows cannot verify signatures with";
    case Finding::kBrokenDigest:
      return "it is signed with MD5, MD4 or MD2";
    case Finding::kUnhandledCritical:
      return "it has a critical extension Windows does not handle";
    case Finding::kEndCertificateSigns:
      return "its key usage claims certificate signing, but it is not a CA";
    case Finding::kIssuerCannotSign:
      return "it issues certificates, but its key usage leaves out "
             "certificate signing";
    case Finding::kUseNotInEku:
      return "its extended key usage leaves out " + use;
    case Finding::kNoTimeStampingEku:
      return "it has no extended key usage naming time stamping";
    case Finding::kPolicyTreeTooLarge:
      return "its policies make a policy tree larger than the chain engine "
             "processes";
    case Finding::kNameWorkOverBudget:
      return "its names and the name constraints over them take more work "
             "to match than a chain may ask";
    case Finding::kUnmatchableName:
      return "a name of it cannot be matched against the name constraints "
             "above it";
    case Finding::kUnsupportedConstraint:
      return "its name constraints hold a form Windows does not support: a "
             "registeredID, ediPartyName, x400Address or otherName other "
             "than a user principal name, a minimum other than 0, or a "
             "maximum";
    case Finding::kLegacyAltNameUndecodable:
      return "its legacy subjectAltName (2.5.29.7) does not decode, below an "
             "issuer that constrains names";
    case Finding::kLegacyAltNameOutside:
      return std::string("a name of its legacy subjectAltName (2.5.29.7): ") +
             X509_verify_cert_error_string(problem.x509_error);
    case Finding::kDisallowed:
      return "it is in Windows' Disallowed list";
    case Finding::kBuiltInRootOtherUses:
      return "Windows trusts this built-in root for other uses than " + use;
    case Finding::kEkuProperty:
      return "its EKU property leaves out " + use +
             ": the root program trusts it for other uses only";
    case Finding::kNotBeforeProperty:
      return NotBeforeText(problem, chain);
    case Finding::kNotBeforeUseWithoutDate:
      return "its NotBefore property lists " + use + " without a date";
    case Finding::kDisableProperty:
      return DatedProperty("Disable", "signatures made", problem, chain) +
             ", and this chain is judged as of " + FormatTime(chain.when);
    case Finding::kDisableUseWithoutDate:
      return "its Disable property lists " + use + " without a date";
  }
  return "a fault";
}

std::string StampStatusText(const Verification& v) {
  if (!v.stamp || !v.stamp->present()) return {};
  if (!v.stamp->valid()) return "invalid: " + StampFaultText(v.stamp->fault);
  if (v.rule == Rule::kAuthorityChain) return "its authority is not trusted";
  return "its own checks pass";
}

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
      return "holds more than " + Number(limits.entries) + " names";
    case LoadFault::kNoRootList:
      return "holds no root list (authroot.stl or authrootstl.cab)";
    case LoadFault::kNamesDiffer:
      return "and " + error.detail +
             " differ only in letter case: which one holds the list is "
             "ambiguous";
    case LoadFault::kFileUnreadable:
      return "cannot be read: " + error.detail;
    case LoadFault::kNotRegularFile:
      return "is not a regular file";
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
    case LoadFault::kSameSubject:
      return "holds more than " + Number(kMaxAnchorsPerSubject) +
             " roots of one subject";
    case LoadFault::kNoMemory:
      return "could not be held in memory";
  }
  return "loads";
}

// Why the --anchors file cannot serve.
std::string AnchorsFileText(const TrustProblem& problem) {
  switch (problem.anchors_fault) {
    case PemAnchors::Fault::kNone:
      break;
    case PemAnchors::Fault::kUnreadable:
      return "it cannot be opened: " +
             std::string(std::strerror(problem.error));
    case PemAnchors::Fault::kNotRegularFile:
      return "it is not a regular file";
    case PemAnchors::Fault::kTooLarge:
      return "it is larger than " + Size(kMaxPemAnchorsBytes);
    case PemAnchors::Fault::kNotPem:
      return "it does not decode as PEM";
    case PemAnchors::Fault::kNoCertificate:
      return "it holds no certificate";
  }
  return "it serves";
}

std::optional<std::string> StaleListWarning(const TrustAnchors& anchors,
                                            std::time_t now) {
  const WindowsRoots* roots = anchors.windows_roots();
  if (roots == nullptr) return std::nullopt;
  const std::time_t this_update = roots->roots().this_update;
  const int64_t days = (static_cast<int64_t>(now) - this_update) / 86400;
  if (days <= kStaleListDays) return std::nullopt;
  return "Windows' root list in " + anchors.location() + " is of " +
         FormatTime(this_update) + ", " + Number(days) +
         " days old; sealprobe-roots sync fetches the current one";
}

std::string TrustProblemText(const TrustProblem& problem) {
  const std::string conflict =
      "--anchors adds to OpenSSL's store, which Windows' root program ";
  switch (problem.kind) {
    case TrustProblem::Kind::kAnchorsWithWindowsTrust:
      return conflict + "(--windows-trust) replaces: give one";
    case TrustProblem::Kind::kAnchorsWithEnvironment:
      return conflict + "(SEALPROBE_WINDOWS_TRUST) replaces: give one";
    case TrustProblem::Kind::kAnchorsFile:
      return AnchorsFileText(problem);
    case TrustProblem::Kind::kNotLoaded:
      break;
  }
  return problem.load_error ? LoadErrorText(*problem.load_error)
                            : "it does not load";
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

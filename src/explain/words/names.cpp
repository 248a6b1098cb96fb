#include "explain/words/names.h"

namespace sealprobe {

const char* StoreName(TrustAnchors::Source source) {
  switch (source) {
    case TrustAnchors::Source::kSystem:
      break;
    case TrustAnchors::Source::kPemFile:
    case TrustAnchors::Source::kSystemAndPemFile:
      return "anchors";
    case TrustAnchors::Source::kWindowsRootProgram:
      return "windows-root-program";
  }
  return "system";
}

ValueNames NamesOf(StampForm form) {
  switch (form) {
    case StampForm::kNone:
      break;
    case StampForm::kRfc3161:
      return {"rfc3161", "RFC 3161"};
    case StampForm::kCounterSignature:
      return {"legacy", "legacy"};
  }
  return {"none", "none"};
}

ValueNames NamesOf(CheckingTime::Basis basis) {
  switch (basis) {
    case CheckingTime::Basis::kStamp:
      return {"stamp", "the timestamp's time"};
    case CheckingTime::Basis::kNow:
      break;
    case CheckingTime::Basis::kLifetimeSigning:
      return {"lifetime-signing",
              "now: lifetime signing, whatever the timestamp"};
  }
  return {"now", "now: no timestamp"};
}

ValueNames NamesOf(ProductFolder folder) {
  switch (folder) {
    case ProductFolder::kCommonFiles:
      return {"common_files",
              "CommonFiles folder, which sealprobe looks in first"};
    case ProductFolder::kProduct:
      break;
  }
  return {"product", "product folder"};
}

ValueNames NamesOf(FileKind kind) {
  switch (kind) {
    case FileKind::kPe:
      return {"pe", "a PE image"};
    case FileKind::kInstaller:
      return {"installer", "a Windows Installer package or patch"};
    case FileKind::kCabinet:
      return {"cabinet", "a cabinet (MSCF)"};
    case FileKind::kCatalog:
      return {"catalog", "a catalog or trust list (a signed CTL)"};
    case FileKind::kScript:
      return {"script", "a script with a signature block"};
    case FileKind::kAppPackage:
      return {"app_package", "an MSIX or APPX package"};
    case FileKind::kCompoundFile:
      return {"compound_file",
              "a compound file other than Windows Installer's packages and "
              "patches"};
    case FileKind::kOther:
      break;
  }
  return {"other", "a file of no kind Windows signs"};
}

ValueNames NamesOf(InstallerClass kind) {
  switch (kind) {
    case InstallerClass::kPackage:
      return {"package", "Windows Installer package"};
    case InstallerClass::kPatch:
      return {"patch", "Windows Installer patch"};
    case InstallerClass::kTransform:
      return {"transform", "Windows Installer transform"};
    case InstallerClass::kNone:
      break;
  }
  return {"", "compound file"};
}

const char* CompoundFaultName(CompoundFault fault) {
  switch (fault) {
    case CompoundFault::kNone:
      break;
    case CompoundFault::kHeader:
      return "header";
    case CompoundFault::kTooManySectors:
      return "too_many_sectors";
    case CompoundFault::kTooManyEntries:
      return "too_many_entries";
    case CompoundFault::kTooManyMiniSectors:
      return "too_many_mini_sectors";
    case CompoundFault::kFatLocation:
      return "fat_location";
    case CompoundFault::kBrokenChain:
      return "broken_chain";
    case CompoundFault::kSectorReused:
      return "sector_reused";
    case CompoundFault::kBadEntry:
      return "bad_entry";
    case CompoundFault::kBadTree:
      return "bad_tree";
    case CompoundFault::kDuplicateName:
      return "duplicate_name";
  }
  return "";
}

const char* UseText(ChainUse use) {
  switch (use) {
    case ChainUse::kCodeSigning:
      break;
    case ChainUse::kTimeStamping:
      return "time stamping";
  }
  return "code signing";
}

const char* PropertyName(Finding finding) {
  switch (finding) {
    case Finding::kDisallowed:
      return "Disallowed";
    case Finding::kBuiltInRootOtherUses:
      return "built-in root";
    case Finding::kEkuProperty:
      return "EKU";
    case Finding::kNotBeforeProperty:
    case Finding::kNotBeforeUseWithoutDate:
      return "NotBefore";
    case Finding::kDisableProperty:
    case Finding::kDisableUseWithoutDate:
      return "Disable";
    case Finding::kEngineError:
    case Finding::kNotStarted:
    case Finding::kEngineFailed:
    case Finding::kStoreTrustsOtherUses:
    case Finding::kStoreRejects:
    case Finding::kWeakRsaKey:
    case Finding::kUnsupportedKey:
    case Finding::kBrokenDigest:
    case Finding::kUnhandledCritical:
    case Finding::kEndCertificateSigns:
    case Finding::kIssuerCannotSign:
    case Finding::kUseNotInEku:
    case Finding::kNoTimeStampingEku:
    case Finding::kPolicyTreeTooLarge:
    case Finding::kNameWorkOverBudget:
    case Finding::kUnmatchableName:
    case Finding::kUnsupportedConstraint:
    case Finding::kLegacyAltNameUndecodable:
    case Finding::kLegacyAltNameOutside:
      break;
  }
  return nullptr;
}

const char* AnchorSourceText(AnchorSource source) {
  switch (source) {
    case AnchorSource::kStore:
      return "in the store";
    case AnchorSource::kListed:
      return "listed in the CTL";
    case AnchorSource::kBuiltIn:
      return "built into Windows";
  }
  return "in the store";
}

}  // namespace sealprobe

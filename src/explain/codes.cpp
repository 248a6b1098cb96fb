#include "explain/codes.h"

namespace sealprobe {
namespace {

const char* FaultCode(ChainFault fault) {
  switch (fault) {
    case ChainFault::kDistrusted:
      return "distrusted";
    case ChainFault::kCertSignature:
      return "bad_certificate_signature";
    case ChainFault::kUntrustedRoot:
      return "untrusted_root";
    case ChainFault::kChaining:
      return "issuer_missing";
    case ChainFault::kWrongUsage:
      return "wrong_usage";
    case ChainFault::kExpired:
      return "expired";
    case ChainFault::kPolicy:
      return "invalid_policy";
    case ChainFault::kBasicConstraints:
      return "basic_constraints";
    case ChainFault::kCritical:
      return "unknown_critical_extension";
    case ChainFault::kInvalidName:
      return "invalid_name";
    case ChainFault::kOther:
      break;
  }
  return "engine_failure";
}

constexpr ChainFault kChainFaults[] = {
    ChainFault::kDistrusted,    ChainFault::kCertSignature,
    ChainFault::kUntrustedRoot, ChainFault::kChaining,
    ChainFault::kWrongUsage,    ChainFault::kExpired,
    ChainFault::kPolicy,        ChainFault::kBasicConstraints,
    ChainFault::kCritical,      ChainFault::kInvalidName,
    ChainFault::kOther,
};

std::string ChainCode(const char* prefix,
                      const std::optional<ChainResult>& chain) {
  const ChainProblem* deciding = chain ? chain->deciding() : nullptr;
  return std::string(prefix) +
         FaultCode(deciding ? deciding->fault : ChainFault::kOther);
}

}  // namespace

std::string RuleCode(const Verification& v) {
  switch (v.rule) {
    case Rule::kNotOpened:
      return "file.not_opened";
    case Rule::kUnreadable:
      return "file.unreadable";
    case Rule::kNotPe:
      return "file.not_pe";
    case Rule::kNotInstaller:
      return "file.not_installer";
    case Rule::kMalformedCompoundFile:
      return "file.malformed_compound";
    case Rule::kNoSignature:
      return "signature.none";
    case Rule::kSignatureTooLarge:
      return "signature.too_large";
    case Rule::kMalformedSignature:
      return v.signature && v.signature->fault == SignatureFault::kOverCap
                 ? "signature.over_cap"
                 : "signature.malformed";
    case Rule::kImageDigestUnsupported:
      return "signature.digest_unsupported";
    case Rule::kSignerAlgorithmUnsupported:
      return "signer.algorithm_unsupported";
    case Rule::kSignerCertificateMissing:
      return "signer.certificate_missing";
    case Rule::kSignerSignatureBad:
      return "signer.bad_signature";
    case Rule::kMetadataHashMismatch:
      return "image.metadata_mismatch";
    case Rule::kImageHashMismatch:
      return "image.hash_mismatch";
    case Rule::kTimestampInvalid:
      return "timestamp.invalid";
    case Rule::kTrustNotLoaded:
      return "trust.not_loaded";
    case Rule::kSignerChain:
      return ChainCode("chain.", v.chain);
    case Rule::kAuthorityChain:
      return ChainCode("timestamp.chain.", v.authority_chain);
    case Rule::kValid:
      break;
  }
  return "valid";
}

const char* PolicyCode(PolicyFault::Kind kind) {
  switch (kind) {
    case PolicyFault::Kind::kSignerNotPinned:
      return "policy.signer_not_pinned";
    case PolicyFault::Kind::kNoTimestamp:
      return "policy.no_timestamp";
    case PolicyFault::Kind::kSignatureInvalid:
      break;
  }
  return "policy.signature_invalid";
}

const std::vector<std::string>& AllFailureCodes() {
  static const std::vector<std::string> codes = [] {
    std::vector<std::string> all = {
        "file.not_opened",
        "file.unreadable",
        "file.not_pe",
        "file.not_installer",
        "file.malformed_compound",
        "signature.none",
        "signature.too_large",
        "signature.over_cap",
        "signature.malformed",
        "signature.digest_unsupported",
        "signer.algorithm_unsupported",
        "signer.certificate_missing",
        "signer.bad_signature",
        "image.metadata_mismatch",
        "image.hash_mismatch",
        "timestamp.invalid",
        "trust.not_loaded",
    };
    for (const char* prefix : {"chain.", "timestamp.chain."}) {
      for (ChainFault fault : kChainFaults) {
        all.push_back(std::string(prefix) + FaultCode(fault));
      }
    }
    for (PolicyFault::Kind kind :
         {PolicyFault::Kind::kSignerNotPinned, PolicyFault::Kind::kNoTimestamp,
          PolicyFault::Kind::kSignatureInvalid}) {
      all.push_back(PolicyCode(kind));
    }
    all.push_back(kStagingMissingCode);
    return all;
  }();
  return codes;
}

}  // namespace sealprobe

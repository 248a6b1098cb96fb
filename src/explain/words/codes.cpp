#include "explain/words/codes.h"

namespace sealprobe {
namespace {

bool OverCap(const Verification& v) {
  return v.signature && v.signature->fault == SignatureFault::kOverCap;
}

// A rule's code. Where a rule has two, the first row whose `applies` holds
// gives it; a chain rule's row gives the start of its codes, which end in
// the code of its chain's deciding fault (kFaultCodes).
struct RuleCodeRow {
  Rule rule;
  const char* code;
  bool (*applies)(const Verification& v) = nullptr;
  std::optional<ChainResult> Verification::*chain = nullptr;
};

// In the order docs/verifier.md lists them.
const RuleCodeRow kRuleCodes[] = {
    {Rule::kNotOpened, "file.not_opened"},
    {Rule::kUnreadable, "file.unreadable"},
    {Rule::kNotPe, "file.not_pe"},
    {Rule::kNotInstaller, "file.not_installer"},
    {Rule::kMalformedCompoundFile, "file.malformed_compound"},
    {Rule::kNoSignature, "signature.none"},
    {Rule::kSignatureTooLarge, "signature.too_large"},
    {Rule::kMalformedSignature, "signature.over_cap", OverCap},
    {Rule::kMalformedSignature, "signature.malformed"},
    {Rule::kImageDigestUnsupported, "signature.digest_unsupported"},
    {Rule::kSignerAlgorithmUnsupported, "signer.algorithm_unsupported"},
    {Rule::kSignerCertificateMissing, "signer.certificate_missing"},
    {Rule::kSignerSignatureBad, "signer.bad_signature"},
    {Rule::kImageHashMismatch, "image.hash_mismatch"},
    {Rule::kMetadataHashMismatch, "image.metadata_mismatch"},
    {Rule::kTimestampInvalid, "timestamp.invalid"},
    {Rule::kTrustNotLoaded, "trust.not_loaded"},
    {Rule::kSignerChain, "chain.", nullptr, &Verification::chain},
    {Rule::kAuthorityChain, "timestamp.chain.", nullptr,
     &Verification::authority_chain},
};

// The end of a chain rule's code; kOther's when no fault decided.
const struct {
  ChainFault fault;
  const char* code;
} kFaultCodes[] = {
    {ChainFault::kDistrusted, "distrusted"},
    {ChainFault::kCertSignature, "bad_certificate_signature"},
    {ChainFault::kUntrustedRoot, "untrusted_root"},
    {ChainFault::kChaining, "issuer_missing"},
    {ChainFault::kWrongUsage, "wrong_usage"},
    {ChainFault::kExpired, "expired"},
    {ChainFault::kPolicy, "invalid_policy"},
    {ChainFault::kBasicConstraints, "basic_constraints"},
    {ChainFault::kCritical, "unknown_critical_extension"},
    {ChainFault::kInvalidName, "invalid_name"},
    {ChainFault::kOther, "engine_failure"},
};

const struct {
  PolicyFault::Kind kind;
  const char* code;
} kPolicyCodes[] = {
    {PolicyFault::Kind::kSignerNotPinned, "policy.signer_not_pinned"},
    {PolicyFault::Kind::kSignerEkuNotPinned, "policy.signer_eku_not_pinned"},
    {PolicyFault::Kind::kChainNotPinned, "policy.chain_not_pinned"},
    {PolicyFault::Kind::kNoTimestamp, "policy.no_timestamp"},
    {PolicyFault::Kind::kSignatureInvalid, "policy.signature_invalid"},
};

std::string FaultCode(const std::optional<ChainResult>& chain) {
  const ChainProblem* deciding = chain ? chain->deciding() : nullptr;
  const ChainFault fault = deciding ? deciding->fault : ChainFault::kOther;
  for (const auto& row : kFaultCodes) {
    if (row.fault == fault) return row.code;
  }
  return {};
}

}  // namespace

std::string RuleCode(const Verification& v) {
  if (v.rule == Rule::kValid) return "valid";
  for (const RuleCodeRow& row : kRuleCodes) {
    if (row.rule != v.rule || (row.applies && !row.applies(v))) continue;
    return row.chain ? row.code + FaultCode(v.*row.chain) : row.code;
  }
  return {};
}

std::string PolicyCode(PolicyFault::Kind kind) {
  for (const auto& row : kPolicyCodes) {
    if (row.kind == kind) return row.code;
  }
  return {};
}

std::string DecidingCode(const FileRecord& record) {
  if (!record.found()) return kStagingMissingCode;
  if (record.unsupported) return kUnsupportedCode;
  if (record.policy) return PolicyCode(record.policy->kind);
  if (record.valid()) return {};
  return RuleCode(record.verification);
}

const std::vector<std::string>& AllFailureCodes() {
  static const std::vector<std::string> codes = [] {
    std::vector<std::string> all;
    for (const RuleCodeRow& row : kRuleCodes) {
      if (row.chain == nullptr) {
        all.push_back(row.code);
        continue;
      }
      for (const auto& fault : kFaultCodes) {
        all.push_back(std::string(row.code) + fault.code);
      }
    }
    for (const auto& row : kPolicyCodes) all.push_back(row.code);
    all.push_back(kStagingMissingCode);
    all.push_back(kUnsupportedCode);
    return all;
  }();
  return codes;
}

}  // namespace sealprobe

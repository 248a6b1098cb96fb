// Fuzzes the native verification over a file's bytes held in memory: the
// same code the tool runs on a file (PE layout, installer's compound file,
// image hash, certificate table, PKCS#7, timestamps, chain decision). Its
// record must agree with its result (the rule that decided names the evidence
// that decided), and a second verification of the same bytes, after the first
// has used the store, must decide the same. Its store: FuzzTrustForRun
// (testing/fuzz_trust.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "testing/fuzz_trust.h"
#include "trust_status.h"

namespace {

bool KnownStatus(uint32_t status) {
  using namespace sealprobe::status;
  switch (status) {
    case kSuccess:
    case kCryptFileError:
    case kTrustSubjectFormUnknown:
    case kTrustNoSignature:
    case kNteBadAlgId:
    case kTrustNoSignerCert:
    case kTrustCertSignature:
    case kTrustBasicConstraints:
    case kTrustSubjectNotTrusted:
    case kTrustBadDigest:
    case kTrustExplicitDistrust:
    case kCertUntrustedRoot:
    case kCertChaining:
    case kCertExpired:
    case kCertWrongUsage:
    case kCertInvalidPolicy:
    case kCertCritical:
    case kCertInvalidName:
    case kTrustTimeStamp:
      return true;
    default:
      return false;
  }
}

// Whether the rule `v` names is borne out by its evidence.
bool Coherent(const sealprobe::Verification& v) {
  using sealprobe::Rule;
  const auto decides = [](const std::optional<sealprobe::ChainResult>& c) {
    return c && c->deciding() != nullptr;
  };
  switch (v.rule) {
    case Rule::kValid:
      return v.result.status == 0 && v.chain && !decides(v.chain) &&
             !decides(v.authority_chain);
    case Rule::kMalformedSignature:
      return v.signature &&
             v.signature->fault != sealprobe::SignatureFault::kNone &&
             (v.signature->fault == sealprobe::SignatureFault::kOverCap) ==
                 (v.signature->cap !=
                  sealprobe::SignatureLimitCheck::kWithinLimits);
    case Rule::kMalformedCompoundFile:
      return v.compound && v.compound->fault != sealprobe::CompoundFault::kNone;
    case Rule::kMetadataHashMismatch:
      return v.compound && v.compound->metadata_hash;
    case Rule::kTimestampInvalid:
      return v.stamp && v.stamp->present() && !v.stamp->valid();
    case Rule::kSignerChain:
      return decides(v.chain) && v.chain->status == v.result.status;
    case Rule::kAuthorityChain:
      return decides(v.authority_chain) && !decides(v.chain);
    default:
      return v.result.status != 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const sealprobe::Verification first = sealprobe::VerifyFuzzInput(data, size);
  const sealprobe::TrustResult& result = first.result;
  // Every outcome is one of the statuses the verdict table is built for;
  // anything else means a path that forgot to decide.
  if (!KnownStatus(result.status)) std::abort();
  const sealprobe::Verification again = sealprobe::VerifyFuzzInput(data, size);
  if (!Coherent(first) || again.rule != first.rule ||
      again.result.status != result.status ||
      again.result.last_error != result.last_error) {
    std::abort();
  }
  return 0;
}

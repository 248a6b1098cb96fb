// Fuzzes the native verification over a file's bytes held in memory: the
// same code the tool runs on a file (PE layout, image hash, certificate
// table, PKCS#7, timestamps, chain decision), and again with the
// explanation sealprobe-explain asks for, which must decide the same. Roots
// come from the PEM file SEALPROBE_FUZZ_ROOTS names, so seeds signed under the
// test PKI reach the chain checks; without it the store is empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "authenticode/authenticode.h"
#include "authenticode/byte_source.h"
#include "authenticode/trust_anchors.h"
#include "trust_status.h"

namespace {

sealprobe::TrustAnchors* anchors = nullptr;
std::time_t fixed_now = 0;

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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* roots = std::getenv("SEALPROBE_FUZZ_ROOTS");
  // Leaked on purpose: one store for the whole fuzzing run, as the tool
  // keeps one for its whole run.
  anchors = new sealprobe::TrustAnchors(
      sealprobe::TrustAnchors::FromFile(roots ? roots : "/nonexistent"));
  fixed_now = std::time(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sealprobe::MemoryByteSource source(data, size);
  const sealprobe::AuthenticodeResult result =
      sealprobe::VerifyAuthenticode(source, *anchors, fixed_now);
  // Every outcome is one of the statuses the verdict table is built for;
  // anything else means a path that forgot to decide.
  if (!KnownStatus(result.status)) std::abort();
  // Writing down an explanation changes nothing of the decision.
  sealprobe::Explanation explanation;
  const sealprobe::AuthenticodeResult explained =
      sealprobe::VerifyAuthenticode(source, *anchors, fixed_now, &explanation);
  if (explained.status != result.status ||
      explained.last_error != result.last_error ||
      explanation.decided_by.empty()) {
    std::abort();
  }
  return 0;
}

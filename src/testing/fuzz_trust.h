// What the fuzz targets over a file's bytes share: the verification of an
// input against one store and one time for the whole run.
#ifndef SEALPROBE_TESTING_FUZZ_TRUST_H_
#define SEALPROBE_TESTING_FUZZ_TRUST_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "authenticode/authenticode.h"
#include "authenticode/byte_source.h"
#include "authenticode/trust_anchors.h"

namespace sealprobe {

struct FuzzTrust {
  TrustAnchors anchors;
  std::time_t now;
};

// One for the whole fuzzing run, as the tool keeps one store for its whole
// run, made on the first call: the roots of the PEM file
// SEALPROBE_FUZZ_ROOTS names, so that seeds signed under the test PKI reach
// the chain checks (none without it), as of that call. Leaked on purpose.
inline FuzzTrust& FuzzTrustForRun() {
  static FuzzTrust* const trust = [] {
    const char* roots = std::getenv("SEALPROBE_FUZZ_ROOTS");
    return new FuzzTrust{
        TrustAnchors::FromFile(roots != nullptr ? roots : "/nonexistent"),
        std::time(nullptr)};
  }();
  return *trust;
}

// The `size` bytes at `data` verified as a file's, against FuzzTrustForRun.
inline Verification VerifyFuzzInput(const uint8_t* data, size_t size) {
  FuzzTrust& trust = FuzzTrustForRun();
  MemoryByteSource source(data, size);
  return VerifyAuthenticode(source, trust.anchors, trust.now);
}

}  // namespace sealprobe

#endif  // SEALPROBE_TESTING_FUZZ_TRUST_H_

// Turning a trust-service result into the verdict line and the verdict.
#ifndef SEALPROBE_TRUST_VERDICT_H_
#define SEALPROBE_TRUST_VERDICT_H_

#include "console.h"
#include "native_text.h"
#include "trust/trust_service.h"

namespace sealprobe {

struct Verdict {
  bool valid = false;
  NativeString line;  // one line, without its line break
};

// The verdict table: pure, no output. `path` is the full path that was
// verified; the line for a status outside the table shows the status in
// lower-case hexadecimal instead.
Verdict DescribeTrustResult(const TrustResult& result,
                            const NativeString& path);

// Verifies `path` once through `trust`, writes its verdict line and a line
// break to `console` and returns true only when the signature is valid.
bool VerifyFileSignature(const NativeString& path, TrustService& trust,
                         Console& console);

}  // namespace sealprobe

#endif  // SEALPROBE_TRUST_VERDICT_H_

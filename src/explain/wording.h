// The words sealprobe-explain says things in. The verifier records what it
// found as values (rules, faults, caps, load errors, with their
// parameters); each is put in words here, by a switch over every value, so
// a new one cannot go unsaid.
#ifndef SEALPROBE_EXPLAIN_WORDING_H_
#define SEALPROBE_EXPLAIN_WORDING_H_

#include <string>

#include "authenticode/der_limits.h"
#include "authenticode/windows_roots.h"

namespace sealprobe {

// Why a folder of Windows' root program does not load, after its file's
// name: "is not a valid trust list: its signature does not verify".
std::string LoadErrorText(const TrustLoadError& error);

// The cap a signature, a token or a trust list is over, with its value:
// "it holds more than 64 certificates in one SignedData".
std::string CapText(SignatureLimitCheck cap,
                    const SignatureLimits& limits = {});

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDING_H_

// The words sealprobe-explain says things in. The verifier records what it
// found as values (rules, faults, caps, load errors, with their
// parameters); each is put in words here, by a switch over every value, so
// a new one cannot go unsaid.
#ifndef SEALPROBE_EXPLAIN_WORDS_WORDING_H_
#define SEALPROBE_EXPLAIN_WORDS_WORDING_H_

#include <ctime>
#include <optional>
#include <string>

#include "authenticode/der_limits.h"
#include "authenticode/root_program/windows_roots.h"
#include "authenticode/verification.h"
#include "explain/decide/file_record.h"
#include "explain/decide/policy.h"
#include "explain/decide/staging.h"
#include "explain/decide/trust_choice.h"

namespace sealprobe {

// The rule that decided `record`: the missing entry, its kind when it is
// one not verified (UnsupportedText), the policy rule, else
// VerificationRule.
std::string DecidingRule(const FileRecord& record);

// A file of `kind`, which Windows signs and sealprobe cannot verify: "it
// is a cabinet (MSCF), a kind of file Windows signs that sealprobe cannot
// verify".
std::string UnsupportedText(FileKind kind);

// Why a compound file cannot be read: "a sector is met twice: a chain
// loops, or two chains share it".
std::string CompoundFaultText(CompoundFault fault);

// What failed `record`, for a pipeline's page: DecidingRule, and for a
// file that could not be read, the system's words for why after it.
std::string FailureReason(const FileRecord& record);

// Windows' verdict on `record`, after its reason on a pipeline's page:
// "Windows' verdict: Error is: 0x80096010. (TRUST_E_BAD_DIGEST,
// 0x80096010)", sealprobe's verdict line and the status; empty for an
// entry not found.
std::string WindowsVerdict(const FileRecord& record);

// The rule that decided the primary signature's verification: Windows'
// reason, whatever the policy says.
std::string VerificationRule(const FileRecord& record);

// The rule that decided `v`, with its case: "in the signer's chain, it
// issues certificates, but its key usage leaves out certificate signing".
// `load_error` is the trust folder's, for Rule::kTrustNotLoaded.
std::string RuleText(const Verification& v, const TrustLoadError* load_error);

// A fault of `chain`, on the certificate it was found on: "its RSA key is
// under 1024 bits".
std::string ProblemText(const ChainProblem& problem, const ChainResult& chain);

// The policy rule a file fails, `v` being the signature that fails it:
// "the signer's certificate is none of those --signer names".
std::string PolicyText(const PolicyFault& fault, const Verification& v);

// A manifest entry found in neither staged folder: "it is in neither
// staged folder: sealprobe looks for COMMON, then PRODUCT".
std::string StagingMissingText(const StagingEntry& entry);

// What is known of `v`'s timestamp: "its own checks pass", "invalid: it
// stamps another signature", "its authority is not trusted"; empty when
// none was checked or found.
std::string StampStatusText(const Verification& v);

// Why a folder of Windows' root program does not load, after its file's
// name: "is not a valid trust list: its signature does not verify".
std::string LoadErrorText(const TrustLoadError& error);

// Why nothing is trusted as asked: "--anchors adds to OpenSSL's store,
// which Windows' root program (--windows-trust) replaces: give one", "it
// holds no certificate", or LoadErrorText's words; after the path at fault
// when there is one.
std::string TrustProblemText(const TrustProblem& problem);

// Windows' root list older than kStaleListDays at `now`: that it is, and
// how to get the current one. Nothing for a current list or another store.
inline constexpr int kStaleListDays = 90;
std::optional<std::string> StaleListWarning(const TrustAnchors& anchors,
                                            std::time_t now);

// The cap a signature, a token or a trust list is over, with its value:
// "it holds more than 64 certificates in one SignedData".
std::string CapText(SignatureLimitCheck cap,
                    const SignatureLimits& limits = {});

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDS_WORDING_H_

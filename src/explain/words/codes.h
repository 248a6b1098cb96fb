// The stable codes pipelines match on: one identifier per rule a file can
// fail, "area.what" (docs/verifier.md lists them). A code, once given,
// keeps its meaning; the words beside it may change.
#ifndef SEALPROBE_EXPLAIN_WORDS_CODES_H_
#define SEALPROBE_EXPLAIN_WORDS_CODES_H_

#include <string>
#include <vector>

#include "authenticode/verification.h"
#include "explain/decide/file_record.h"
#include "explain/decide/policy.h"

namespace sealprobe {

// The code of the rule that decided `v`: "chain.untrusted_root",
// "timestamp.chain.expired", "image.hash_mismatch"; "valid" when every
// check passes. One table gives these and AllFailureCodes.
std::string RuleCode(const Verification& v);

// "policy.signer_not_pinned", "policy.signer_eku_not_pinned",
// "policy.chain_not_pinned", "policy.no_timestamp",
// "policy.signature_invalid".
std::string PolicyCode(PolicyFault::Kind kind);

// A manifest entry found in neither staged folder.
inline constexpr char kStagingMissingCode[] = "staging.missing";

// A file of a kind Windows signs that sealprobe does not verify.
inline constexpr char kUnsupportedCode[] = "file.unsupported_format";

// The code of what decided `record`: kStagingMissingCode,
// kUnsupportedCode (whether or not the run lets it pass), the policy
// rule's, else its verification's rule's; empty when it is valid.
std::string DecidingCode(const FileRecord& record);

// Every code RuleCode, PolicyCode, the staging check and the folder walk
// can give, but "valid", in the order docs/verifier.md lists them.
const std::vector<std::string>& AllFailureCodes();

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDS_CODES_H_

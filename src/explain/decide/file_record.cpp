#include "explain/decide/file_record.h"

#include <iterator>
#include <utility>

#include "authenticode/authenticode.h"
#include "trust/verdict.h"
#include "trust_status.h"

namespace sealprobe {

Outcome OutcomeOf(const FileRecord& record) {
  if (record.valid()) return Outcome::kValid;
  // Of a kind sealprobe cannot verify, which --allow-unsupported lets pass.
  if (record.unsupported && record.unsupported_allowed) {
    return Outcome::kNotChecked;
  }
  const Rule rule = record.verification.rule;
  if (record.found() &&
      (rule == Rule::kNotOpened || rule == Rule::kUnreadable)) {
    return Outcome::kUnreadable;
  }
  return Outcome::kFailed;
}

TrustFacts DescribeTrust(const TrustAnchors& anchors) {
  TrustFacts trust;
  trust.source = anchors.source();
  trust.location = anchors.location();
  if (const WindowsRoots* roots = anchors.windows_roots()) {
    trust.ctl_this_update = roots->roots().this_update;
    trust.ctl_sequence_number = roots->roots().sequence_number;
    trust.origin = roots->origin();
    trust.disallowed_list = roots->has_disallowed_list();
  }
  trust.load_error = anchors.load_error();
  return trust;
}

FileRecord ExplainFile(const std::string& path, TrustAnchors& anchors,
                       const Policy& policy, std::time_t now) {
  FileRecord record;
  record.file = path;
  std::vector<Verification> signatures =
      VerifyEverySignatureFile(path, anchors, now);
  record.policy = CheckPolicy(signatures, policy);
  record.verification = std::move(signatures[0]);
  record.others.assign(std::make_move_iterator(signatures.begin() + 1),
                       std::make_move_iterator(signatures.end()));
  record.trust = DescribeTrust(anchors);
  record.verdict = DescribeTrustResult(record.verification.result, path).line;
  return record;
}

FileRecord ExplainInput(const InputFile& input, TrustAnchors& anchors,
                        const Policy& policy, std::time_t now) {
  FileRecord record = ExplainFile(input.path, anchors, policy, now);
  record.unsupported = input.unsupported;
  record.unsupported_allowed = policy.allow_unsupported;
  return record;
}

FileRecord ExplainEntry(const StagingEntry& entry, TrustAnchors& anchors,
                        const Policy& policy, std::time_t now) {
  if (!entry.found) {
    FileRecord record;
    record.file = entry.product_path;
    record.entry = entry;
    record.trust = DescribeTrust(anchors);
    return record;
  }
  FileRecord record = ExplainFile(entry.path(), anchors, policy, now);
  record.entry = entry;
  return record;
}

}  // namespace sealprobe

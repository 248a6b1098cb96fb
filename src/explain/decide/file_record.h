// What is decided about one file, before anything is said of it:
// sealprobe's own verdict on it, the verifier's record of how it came to
// it, its other signatures, the release's policy on top, and the store it
// was judged against. words/ puts it in words, formats/ writes it out.
#ifndef SEALPROBE_EXPLAIN_DECIDE_FILE_RECORD_H_
#define SEALPROBE_EXPLAIN_DECIDE_FILE_RECORD_H_

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/trust_anchors.h"
#include "authenticode/verification.h"
#include "explain/decide/file_kind.h"
#include "explain/decide/inputs.h"
#include "explain/decide/policy.h"
#include "explain/decide/staging.h"

namespace sealprobe {

// Which store the chains were judged against.
struct TrustFacts {
  TrustAnchors::Source source = TrustAnchors::Source::kSystem;
  std::string location;  // the PEM file or the folder; empty for kSystem
  // Windows' root program: its CTL's thisUpdate and sequence number, where
  // sealprobe-roots fetched it from (nothing for a folder exported on
  // Windows), and whether the folder holds a Disallowed list.
  std::optional<std::time_t> ctl_this_update;
  std::string ctl_sequence_number;
  std::optional<FolderOrigin> origin;
  bool disallowed_list = false;
  // Why the folder did not load, when it did not.
  std::optional<TrustLoadError> load_error;
};

struct FileRecord {
  std::string file;           // as given; for a manifest entry not found, where
                              // sealprobe looks last
  Verification verification;  // the primary signature's: Windows' verdict
  std::vector<Verification> others;   // the file's other signatures, in order
  std::optional<PolicyFault> policy;  // the first policy rule it fails
  std::optional<StagingEntry> entry;  // under --staging, the manifest's
  std::string verdict;  // sealprobe's verdict line, without its line break;
                        // empty for an entry not found
  TrustFacts trust;
  // Of a kind Windows signs that sealprobe does not verify (file_kind.h),
  // found by its content: never valid. Policy::allow_unsupported lets it
  // pass, listed as not checked.
  std::optional<FileKind> unsupported;
  bool unsupported_allowed = false;
  // What the run adds: how long the verification took, in seconds of wall
  // time on the thread that ran it (0 when not measured), and, for a file
  // that could not be read, the system's words for why.
  double seconds = 0;
  std::string read_error;

  // Whether there was a file to verify: false only for a manifest entry in
  // neither staged folder.
  bool found() const { return !entry || entry->found.has_value(); }
  bool valid() const {
    return found() && !unsupported && verification.result.status == 0 &&
           !policy;
  }
};

// How a record counts in a run's summary and in the formats for pipelines.
enum class Outcome {
  kValid,
  kFailed,      // not valid, or a rule of the policy fails it, or missing
  kUnreadable,  // the file could not be opened or read
  kNotChecked,  // left out of the check on purpose, neither valid nor failed
};
Outcome OutcomeOf(const FileRecord& record);

// The store `anchors` judge by, as a record names it.
TrustFacts DescribeTrust(const TrustAnchors& anchors);

// Verifies `path` exactly as sealprobe's trust service does, and its other
// signatures by the same rules, keeps what that found, and judges the whole
// by `policy`.
// A chain without a timestamp is judged as of `now`: one time for a whole
// run gives every file the same, however many threads verify them.
FileRecord ExplainFile(const std::string& path, TrustAnchors& anchors,
                       const Policy& policy = {},
                       std::time_t now = std::time(nullptr));

// The record of a file to check: ExplainFile's, and for a file of a kind
// not verified, that kind and whether `policy` lets it pass.
FileRecord ExplainInput(const InputFile& input, TrustAnchors& anchors,
                        const Policy& policy, std::time_t now);

// The record of a manifest entry, found or not, under --staging.
FileRecord ExplainEntry(const StagingEntry& entry, TrustAnchors& anchors,
                        const Policy& policy, std::time_t now);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_DECIDE_FILE_RECORD_H_

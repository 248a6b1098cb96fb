// What sealprobe-explain says of a file: sealprobe's own verdict on it, the
// status in Windows' terms, the rule that decided it and the evidence, for a
// person or as JSON.
#ifndef SEALPROBE_EXPLAIN_REPORT_H_
#define SEALPROBE_EXPLAIN_REPORT_H_

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/authenticode.h"
#include "authenticode/explanation.h"
#include "authenticode/trust_anchors.h"

namespace sealprobe {

// Which store the chains were judged against.
struct TrustFacts {
  std::string store;     // "system", "anchors" or "windows-root-program"
  std::string location;  // the PEM file or the folder; empty for "system"
  // Windows' root program: its CTL's thisUpdate and sequence number.
  std::optional<std::time_t> ctl_this_update;
  std::string ctl_sequence_number;
};

struct FileReport {
  std::string file;  // as given
  AuthenticodeResult result;
  std::string verdict;  // sealprobe's verdict line, without its line break
  TrustFacts trust;
  Explanation explanation;

  bool valid() const { return result.status == 0; }
};

// Verifies `path` exactly as sealprobe's trust service does, with the
// explanation of that same decision.
FileReport ExplainFile(const std::string& path, TrustAnchors& anchors);

// For a person, in 80 columns: the file, its verdict line and the deciding
// rule first, then the store that decided and the anchor, the image, the
// signer, the time the chain was checked at, the chain as a tree with a tick or
// a cross beside each certificate, and the timestamp. With `colour`, a cross is
// red.
std::string HumanReport(const FileReport& report, bool colour);

// Every report as one JSON array of objects with the keys file, valid,
// status, status_name, verdict, decided_by, trust, image, signer, chain,
// timestamp and checked_at, and file_base64 (the path's exact bytes) when
// the path is not UTF-8. Strict UTF-8 whatever the paths and certificates
// hold: what is not UTF-8 is U+FFFD.
std::string JsonReport(const std::vector<FileReport>& reports);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_REPORT_H_

// Files' reports as JSON, for pipelines.
#ifndef SEALPROBE_EXPLAIN_JSON_REPORT_H_
#define SEALPROBE_EXPLAIN_JSON_REPORT_H_

#include <string>
#include <vector>

#include "explain/report.h"

namespace sealprobe {

// One report as a JSON object with the keys tool (name and `version`),
// file, valid, code, status, status_name, verdict, decided_by, trust, image,
// signer, chain, timestamp, checked_at, signatures, policy and staging, and
// file_base64 (the path's exact bytes) when the path is not UTF-8
// (docs/verifier.md); on one line. Strict UTF-8 whatever the paths and
// certificates hold (json_writer.h).
std::string JsonReportObject(const FileReport& report,
                             const std::string& version);

// Every report as one JSON array of those objects, one a line.
std::string JsonReport(const std::vector<FileReport>& reports,
                       const std::string& version);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_JSON_REPORT_H_

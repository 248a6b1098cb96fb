// Files' reports as JSON, for pipelines.
#ifndef SEALPROBE_EXPLAIN_JSON_REPORT_H_
#define SEALPROBE_EXPLAIN_JSON_REPORT_H_

#include <string>
#include <vector>

#include "explain/report.h"

namespace sealprobe {

// Every report as one JSON array of objects with the keys file, valid,
// status, status_name, verdict, decided_by, trust, image, signer, chain,
// timestamp and checked_at, and file_base64 (the path's exact bytes) when
// the path is not UTF-8 (docs/verifier.md). Strict UTF-8 whatever the paths
// and certificates hold (json_writer.h).
std::string JsonReport(const std::vector<FileReport>& reports);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_JSON_REPORT_H_

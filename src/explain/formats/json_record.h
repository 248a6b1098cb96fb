// Files' reports as JSON, for pipelines.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JSON_RECORD_H_
#define SEALPROBE_EXPLAIN_FORMATS_JSON_RECORD_H_

#include <string>
#include <vector>

#include "explain/decide/file_record.h"

namespace sealprobe {

// One report as a JSON object with the keys tool (name and `version`),
// file, valid, code, status, status_name, verdict, decided_by, trust, image,
// signer, chain, timestamp, checked_at, signatures, policy and staging, and
// file_base64 (the path's exact bytes) when the path is not UTF-8
// (docs/verifier.md); on one line. Strict UTF-8 whatever the paths and
// certificates hold (json_writer.h).
std::string JsonReportObject(const FileRecord& report,
                             const std::string& version);

// Every report as one JSON array of those objects, one a line.
std::string JsonReport(const std::vector<FileRecord>& reports,
                       const std::string& version);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JSON_RECORD_H_

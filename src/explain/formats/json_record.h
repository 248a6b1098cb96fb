// A file's record as one JSON object, for pipelines: what the JSON and
// JSON Lines formats write of each file.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JSON_RECORD_H_
#define SEALPROBE_EXPLAIN_FORMATS_JSON_RECORD_H_

#include <string>

#include "explain/decide/file_record.h"

namespace sealprobe {

// `record` as a JSON object with the keys tool (name and `version`),
// file, valid, code, status, status_name, verdict, decided_by, trust, image,
// installer, bytes_after_signature, signer, chain, timestamp, checked_at,
// signatures, policy, staging and unsupported, and file_base64 (the path's
// exact bytes) when the path is not UTF-8 (docs/verifier.md); on one line.
// Strict UTF-8 whatever the paths and certificates hold (json_writer.h).
std::string JsonRecord(const FileRecord& record, const std::string& version);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JSON_RECORD_H_

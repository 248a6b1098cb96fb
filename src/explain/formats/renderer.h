// What every format's renderer is: records in, text out, in order.
#ifndef SEALPROBE_EXPLAIN_FORMATS_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_RENDERER_H_

#include <string>

#include "explain/decide/file_record.h"

namespace sealprobe {

// What a run knows once its last record is decided.
struct RunEnd {
  int exit_status = 0;  // what the run exits with, unless writing fails
  double seconds = 0;   // how long it took, wall time
};

// Renders the records of one run, in the order they are decided: Add gives
// what to write for a record as soon as it is decided (all of it for text
// and JSON Lines; JUnit and SARIF, which count or gather before their
// first byte, give nothing until End), End what to write after the last.
// What a run writes is the same whatever order the records are made in, as
// long as they are added in order; only the times JUnit carries (a
// record's `seconds`, the run's) differ from run to run.
class ReportRenderer {
 public:
  virtual ~ReportRenderer() = default;
  virtual std::string Add(const FileRecord& record) = 0;
  virtual std::string End(const RunEnd& end) = 0;
};

// What a renderer is made with. Every format but text carries `version`
// and each failing record's code (words/codes.h); only the text format
// uses `colour`, to mark crosses red, and `quiet`, to leave out the files
// that pass. JUnit and SARIF name `trust`, the store the run judged by
// (every record's), and SARIF points each code at its row of the
// verifier's guide, published at `docs_url` (a folder's address, ending in
// '/').
struct RendererSettings {
  std::string version;
  bool colour = false;
  bool quiet = false;
  TrustFacts trust = {};
  std::string docs_url = {};
};

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_RENDERER_H_

// What every format's renderer is: records in, text out, in order.
#ifndef SEALPROBE_EXPLAIN_FORMATS_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_RENDERER_H_

#include <string>

#include "explain/decide/file_record.h"

namespace sealprobe {

// Renders the records of one run, in the order they are decided: Add gives
// what to write for a record as soon as it is decided (all of it for text
// and JSON Lines; JUnit and SARIF, which count or gather before their
// first byte, give nothing until End), End what to write after the last.
// What a run writes is the same whatever order the records are made in, as
// long as they are added in order.
class ReportRenderer {
 public:
  virtual ~ReportRenderer() = default;
  virtual std::string Add(const FileRecord& record) = 0;
  virtual std::string End() = 0;
};

// What a renderer is made with. Every format but text carries `version`
// and each failing record's code (words/codes.h); only the text format
// uses `colour`, to mark crosses red.
struct RendererSettings {
  std::string version;
  bool colour = false;
};

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_RENDERER_H_

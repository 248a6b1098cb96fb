// A run's reports in the format asked for: for a person, as one JSON
// array, as JSON Lines, as JUnit XML, as SARIF 2.1.0.
#ifndef SEALPROBE_EXPLAIN_FORMATS_FORMAT_TABLE_H_
#define SEALPROBE_EXPLAIN_FORMATS_FORMAT_TABLE_H_

#include <memory>
#include <optional>
#include <string>

#include "explain/decide/file_record.h"

namespace sealprobe {

enum class ReportFormat { kText, kJson, kJsonLines, kJUnit, kSarif };

// "text", "json", "jsonl", "junit", "sarif"; nullopt for anything else.
std::optional<ReportFormat> ParseReportFormat(const std::string& name);

// Renders the reports of one run, in the order they are decided: Add gives
// what to write for a report as soon as it is decided (all of it for text
// and JSON Lines; JUnit and SARIF, which count or gather before their
// first byte, give nothing until End), End what to write after the last.
// What a run writes is the same whatever order the reports are made in, as
// long as they are added in order. Every format but text carries `version`
// and each failing report's code (codes.h).
class ReportRenderer {
 public:
  virtual ~ReportRenderer() = default;
  virtual std::string Add(const FileRecord& report) = 0;
  virtual std::string End() = 0;
};

// With `colour`, the text format marks crosses red; no other uses it.
std::unique_ptr<ReportRenderer> MakeReportRenderer(ReportFormat format,
                                                   const std::string& version,
                                                   bool colour);

// The same JUnit and SARIF renderers MakeReportRenderer gives.
std::unique_ptr<ReportRenderer> MakeJUnitRenderer(const std::string& version);
std::unique_ptr<ReportRenderer> MakeSarifRenderer(const std::string& version);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_FORMAT_TABLE_H_

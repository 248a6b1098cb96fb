#include "explain/formats/format_table.h"

#include "explain/formats/json_record.h"
#include "explain/formats/text_renderer.h"

namespace sealprobe {
namespace {

class TextRenderer : public ReportRenderer {
 public:
  explicit TextRenderer(bool colour) : colour_(colour) {}
  std::string Add(const FileRecord& report) override {
    const char* gap = first_ ? "" : "\n";
    first_ = false;
    return gap + HumanReport(report, colour_);
  }
  std::string End() override { return {}; }

 private:
  bool colour_;
  bool first_ = true;
};

// One array, its items written as they come: the same bytes as JsonReport.
class JsonRenderer : public ReportRenderer {
 public:
  explicit JsonRenderer(std::string version) : version_(std::move(version)) {}
  std::string Add(const FileRecord& report) override {
    const char* before = first_ ? "[\n  " : ",\n  ";
    first_ = false;
    return before + JsonReportObject(report, version_);
  }
  std::string End() override { return first_ ? "[\n]\n" : "\n]\n"; }

 private:
  std::string version_;
  bool first_ = true;
};

class JsonLinesRenderer : public ReportRenderer {
 public:
  explicit JsonLinesRenderer(std::string version)
      : version_(std::move(version)) {}
  std::string Add(const FileRecord& report) override {
    return JsonReportObject(report, version_) + "\n";
  }
  std::string End() override { return {}; }

 private:
  std::string version_;
};

}  // namespace

std::optional<ReportFormat> ParseReportFormat(const std::string& name) {
  if (name == "text") return ReportFormat::kText;
  if (name == "json") return ReportFormat::kJson;
  if (name == "jsonl") return ReportFormat::kJsonLines;
  if (name == "junit") return ReportFormat::kJUnit;
  if (name == "sarif") return ReportFormat::kSarif;
  return std::nullopt;
}

std::unique_ptr<ReportRenderer> MakeReportRenderer(ReportFormat format,
                                                   const std::string& version,
                                                   bool colour) {
  switch (format) {
    case ReportFormat::kText:
      return std::make_unique<TextRenderer>(colour);
    case ReportFormat::kJson:
      return std::make_unique<JsonRenderer>(version);
    case ReportFormat::kJsonLines:
      return std::make_unique<JsonLinesRenderer>(version);
    case ReportFormat::kJUnit:
      return MakeJUnitRenderer(version);
    case ReportFormat::kSarif:
      break;
  }
  return MakeSarifRenderer(version);
}

}  // namespace sealprobe

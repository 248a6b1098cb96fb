#include "explain/formats/format_table.h"

#include <cstddef>

#include "explain/formats/json_lines_renderer.h"
#include "explain/formats/json_renderer.h"
#include "explain/formats/junit_renderer.h"
#include "explain/formats/sarif_renderer.h"
#include "explain/formats/text_renderer.h"

namespace sealprobe {
namespace {

struct Format {
  const char* name;  // as --format takes it
  ReportFormat format;
  const char* usage;  // what the usage says of it, after its name
  std::unique_ptr<ReportRenderer> (*make)(const RendererSettings& settings);
};

// In the order the usage lists them.
constexpr Format kFormats[] = {
    {"text", ReportFormat::kText, " (the default)", MakeTextRenderer},
    {"json", ReportFormat::kJson, " (one array)", MakeJsonRenderer},
    {"jsonl", ReportFormat::kJsonLines,
     " (one object a line, each as soon as it is decided)",
     MakeJsonLinesRenderer},
    {"junit", ReportFormat::kJUnit, "", MakeJUnitRenderer},
    {"sarif", ReportFormat::kSarif, "", MakeSarifRenderer},
};
constexpr size_t kCount = sizeof(kFormats) / sizeof(kFormats[0]);

// The formats' names, each with its usage when `with_usage`, as a list:
// "a, b or c".
std::string List(bool with_usage) {
  std::string list;
  for (size_t i = 0; i < kCount; ++i) {
    if (i > 0) list += i + 1 < kCount ? ", " : " or ";
    list += kFormats[i].name;
    if (with_usage) list += kFormats[i].usage;
  }
  return list;
}

}  // namespace

std::optional<ReportFormat> ParseReportFormat(const std::string& name) {
  for (const Format& f : kFormats) {
    if (name == f.name) return f.format;
  }
  return std::nullopt;
}

std::string FormatNames() { return List(false); }

std::string FormatUsage() { return List(true); }

std::unique_ptr<ReportRenderer> MakeReportRenderer(
    ReportFormat format, const RendererSettings& settings) {
  for (const Format& f : kFormats) {
    if (format == f.format) return f.make(settings);
  }
  return nullptr;
}

}  // namespace sealprobe

// The formats a run's records can be written in, as one table: --format's
// names, the usage's words for them, and their renderers.
#ifndef SEALPROBE_EXPLAIN_FORMATS_FORMAT_TABLE_H_
#define SEALPROBE_EXPLAIN_FORMATS_FORMAT_TABLE_H_

#include <memory>
#include <optional>
#include <string>

#include "explain/formats/renderer.h"

namespace sealprobe {

enum class ReportFormat { kText, kJson, kJsonLines, kJUnit, kSarif };

// The format --format names `name` ("text", "json", "jsonl", "junit",
// "sarif"); nothing for any other.
std::optional<ReportFormat> ParseReportFormat(const std::string& name);

// Every format's name, for a sentence: "text, json, jsonl, junit or sarif".
std::string FormatNames();

// Every format's name with what the usage says of it: "text (the
// default), json (one array), ..., junit or sarif".
std::string FormatUsage();

std::unique_ptr<ReportRenderer> MakeReportRenderer(
    ReportFormat format, const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_FORMAT_TABLE_H_

// The JSON Lines format: one record a line.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JSON_LINES_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_JSON_LINES_RENDERER_H_

#include <memory>

#include "explain/formats/renderer.h"

namespace sealprobe {

// Each record's JsonRecord on a line of its own, as soon as it is decided.
std::unique_ptr<ReportRenderer> MakeJsonLinesRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JSON_LINES_RENDERER_H_

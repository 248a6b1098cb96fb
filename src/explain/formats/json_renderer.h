// The JSON format: every record of a run in one array.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JSON_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_JSON_RENDERER_H_

#include <memory>

#include "explain/formats/renderer.h"

namespace sealprobe {

// One JSON array of JsonRecord objects, one a line, each written as soon
// as it is decided; "[\n]\n" for none.
std::unique_ptr<ReportRenderer> MakeJsonRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JSON_RENDERER_H_

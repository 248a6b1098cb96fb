// The SARIF 2.1.0 format, as code scanning reads it.
#ifndef SEALPROBE_EXPLAIN_FORMATS_SARIF_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_SARIF_RENDERER_H_

#include <memory>

#include "explain/formats/renderer.h"

namespace sealprobe {

// One run of sealprobe-explain, one result per record that is not valid,
// its rule the record's code and its location the file. Written whole at
// End, after the rules met.
std::unique_ptr<ReportRenderer> MakeSarifRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_SARIF_RENDERER_H_

// The SARIF 2.1.0 format, as code scanning reads it.
#ifndef SEALPROBE_EXPLAIN_FORMATS_SARIF_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_SARIF_RENDERER_H_

#include <memory>

#include "explain/formats/renderer.h"

namespace sealprobe {

// One run of sealprobe-explain, with its exit status and the store it
// judged by; one result per record that is not valid, its rule the
// record's code, its message the reason, its location the file (its first
// line standing for the whole) and its fingerprint made of the code and
// the path, so that code scanning keeps one alert for them from run to
// run; a rule for each code met, with help. Written whole at End, after
// the rules met.
std::unique_ptr<ReportRenderer> MakeSarifRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_SARIF_RENDERER_H_

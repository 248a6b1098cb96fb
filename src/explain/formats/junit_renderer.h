// The JUnit XML format, as Jenkins and GitLab read it.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JUNIT_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_JUNIT_RENDERER_H_

#include <memory>

#include "explain/formats/renderer.h"

namespace sealprobe {

// One test suite, one test case per record, named by its file; a record
// that is not valid has a failure whose type is its code. Written whole at
// End, which alone knows the counts the suite opens with.
std::unique_ptr<ReportRenderer> MakeJUnitRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JUNIT_RENDERER_H_

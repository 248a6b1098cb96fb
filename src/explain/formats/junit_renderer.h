// The JUnit XML format, as Jenkins and GitLab read it.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JUNIT_RENDERER_H_
#define SEALPROBE_EXPLAIN_FORMATS_JUNIT_RENDERER_H_

#include <memory>

#include "explain/formats/renderer.h"

namespace sealprobe {

// One test suite, whose properties name the version and the store the run
// judged by; one test case per record, named by its file, with the time
// its verification took. A record that is not valid has a failure whose
// type is its code and whose text leads with the code and the reason; one
// whose check could not be made (a file that could not be read, trust
// data that did not load) has an error instead, and one left out of the
// check (Outcome::kNotChecked) is skipped. Written whole at End, which
// alone knows the counts the suite opens with.
std::unique_ptr<ReportRenderer> MakeJUnitRenderer(
    const RendererSettings& settings);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JUNIT_RENDERER_H_

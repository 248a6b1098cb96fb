// sealprobe-explain's command line.
#ifndef SEALPROBE_EXPLAIN_OPTIONS_H_
#define SEALPROBE_EXPLAIN_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "explain/decide/policy.h"
#include "explain/decide/trust_choice.h"
#include "explain/formats/format_table.h"

namespace sealprobe {

struct ExplainOptions {
  ReportFormat format = ReportFormat::kText;
  Policy policy;
  unsigned jobs = 0;   // 0: one per processor
  TrustOptions trust;  // ChooseTrust's to judge
  std::vector<std::string> paths;
  // --staging: the product folder and the CommonFiles folder, as given.
  std::optional<std::pair<std::string, std::string>> staging;
  bool quiet = false;  // text: only what failed, and the summary
  bool help = false;
  bool version = false;
};

// The most --jobs takes.
inline constexpr unsigned kMaxJobs = 256;

// The options in `args` (without the program's name), or, when they are
// not ones sealprobe-explain takes, why not in `error`: one sentence that
// may quote an argument. --help and --version stand alone.
std::optional<ExplainOptions> ParseExplainOptions(
    const std::vector<std::string>& args, std::string* error);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_OPTIONS_H_

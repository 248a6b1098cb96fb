// What each stable code means, for the formats that explain a code beside
// the files it fails (SARIF's rules, which code scanning shows next to an
// alert): a title and a paragraph, the same for every file.
#ifndef SEALPROBE_EXPLAIN_WORDS_CODE_HELP_H_
#define SEALPROBE_EXPLAIN_WORDS_CODE_HELP_H_

#include <optional>
#include <string>

namespace sealprobe {

struct CodeHelp {
  std::string title;        // "The file was changed after signing"
  std::string description;  // what fails, and the status Windows gives
};

// The help for `code`, one of AllFailureCodes (codes.h); nothing for any
// other.
std::optional<CodeHelp> HelpFor(const std::string& code);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDS_CODE_HELP_H_

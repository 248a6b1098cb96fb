#include <gtest/gtest.h>

#include "notice/terminal_notice.h"

namespace sealprobe {
namespace {

// The caption as a title, the text marked as an error, the OK prompt; both
// terminal-safe, the text with its line breaks (the rule itself:
// terminal_text_test.cpp).
TEST(TerminalNoticeTest, ShowsCaptionTextAndPromptWithoutControlCharacters) {
  const struct {
    std::string caption, text, expected;
  } kCases[] = {
      {"Tarvo", "Cannot verify tv-Strings.dll.\nReinstall.",
       "\n== Tarvo ==\n[ERROR] Cannot verify tv-Strings.dll.\nReinstall.\n"
       "[ OK ] Press Enter to continue.\n"},
      {"", "x", "\n==  ==\n[ERROR] x\n[ OK ] Press Enter to continue.\n"},
      {"two\nlines", "tab\there\x7f",
       "\n== two?lines ==\n[ERROR] tab\there?\n[ OK ] Press Enter to "
       "continue.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(FormatTerminalNotice(c.caption, c.text), c.expected);
  }
}

}  // namespace
}  // namespace sealprobe

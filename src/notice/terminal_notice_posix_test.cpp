#include <gtest/gtest.h>

#include "notice/terminal_notice.h"

namespace sealprobe {
namespace {

// The caption as a title, the text marked as an error, the OK prompt; and no
// control character that could drive the terminal.
TEST(TerminalNoticeTest, ShowsCaptionTextAndPromptWithoutControlCharacters) {
  const struct {
    std::string caption, text, expected;
  } kCases[] = {
      {"Tarvo", "Cannot verify tv-Strings.dll.\nReinstall.",
       "\n== Tarvo ==\n[ERROR] Cannot verify tv-Strings.dll.\nReinstall.\n"
       "[ OK ] Press Enter to continue.\n"},
      {"", "x", "\n==  ==\n[ERROR] x\n[ OK ] Press Enter to continue.\n"},
      {"A\x1b]0;owned\x07", "B\x1b[2J\r",
       "\n== A?]0;owned? ==\n[ERROR] B?[2J?\n[ OK ] Press Enter to "
       "continue.\n"},
      {"two\nlines", "tab\there\x7f",
       "\n== two?lines ==\n[ERROR] tab\there?\n[ OK ] Press Enter to "
       "continue.\n"},
      // C1 controls in UTF-8 (U+009B is CSI), but not the bytes of other
      // characters, which may be the user's language.
      {"\xc2\x9b"
       "2J",
       "\xc2\x80\xc2\xa0\xe6\x96\x87",
       "\n== ?2J ==\n[ERROR] ?\xc2\xa0\xe6\x96\x87\n[ OK ] Press Enter to "
       "continue.\n"},
      {"caf\xc3\xa9", "\xff",
       "\n== caf\xc3\xa9 ==\n[ERROR] \xff\n[ OK ] Press Enter to continue.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(FormatTerminalNotice(c.caption, c.text), c.expected);
  }
}

}  // namespace
}  // namespace sealprobe

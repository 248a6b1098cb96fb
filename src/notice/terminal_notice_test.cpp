#include "notice/terminal_notice.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

TEST(TerminalNoticeTest, ShowsCaptionErrorTextAndOkPrompt) {
  EXPECT_EQ(FormatTerminalNotice("Tarvo",
                                 "Cannot verify tv-Strings.dll.\nReinstall."),
            "\n== Tarvo ==\n"
            "[ERROR] Cannot verify tv-Strings.dll.\nReinstall.\n"
            "[ OK ] Press Enter to continue.\n");
}

TEST(TerminalNoticeTest, ControlCharactersCannotDriveTheTerminal) {
  const struct {
    std::string caption, text, expected;
  } kCases[] = {
      {"", "x", "\n==  ==\n[ERROR] x\n[ OK ] Press Enter to continue.\n"},
      {"A\x1b]0;owned\x07", "B\x1b[2J\r",
       "\n== A?]0;owned? ==\n[ERROR] B?[2J?\n[ OK ] Press Enter to "
       "continue.\n"},
      {"two\nlines", "tab\there\x7f",
       "\n== two?lines ==\n[ERROR] tab\there?\n[ OK ] Press Enter to "
       "continue.\n"},
      // Bytes above 0x7f pass as they are: they may be the user's language.
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

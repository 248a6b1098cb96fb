#include "terminal_text.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

TEST(TerminalSafeTest, ShowsControlCharactersAsQuestionMarks) {
  const struct {
    std::string text;
    LineBreaks line_breaks;
    std::string expected;
  } kCases[] = {
      {"A\x1b]0;owned\x07", LineBreaks::kReplace, "A?]0;owned?"},
      {"B\x1b[2J\r", LineBreaks::kKeep, "B?[2J?"},
      {"two\nlines", LineBreaks::kReplace, "two?lines"},
      {"two\nlines", LineBreaks::kKeep, "two\nlines"},
      {"tab\there\x7f", LineBreaks::kReplace, "tab\there?"},
      {std::string("nul\0", 4), LineBreaks::kReplace, "nul?"},
      // C1 controls in UTF-8 (U+009B is CSI), one '?' each, but not the
      // bytes of other characters, which may be the user's language.
      {"/CN=Evil\xc2\x9b"
       "31m",
       LineBreaks::kReplace, "/CN=Evil?31m"},
      {"\xc2\x80\xc2\x9f\xc2\xa0\xe6\x96\x87", LineBreaks::kReplace,
       "??\xc2\xa0\xe6\x96\x87"},
      // Octets 0x80 to 0x9F that are not UTF-8 are C1 controls to a
      // terminal that reads octets; anything else that is not UTF-8 (the
      // longest start of a character, an overlong or surrogate form) goes
      // with them, one '?' a stretch.
      {"raw \x9b"
       "31m \x80\x9f",
       LineBreaks::kReplace, "raw ?31m ??"},
      {"caf\xc3\xa9 \xe9 \xff \xc2", LineBreaks::kReplace, "caf\xc3\xa9 ? ? ?"},
      {"\xe2\x80 \xc0\x9b \xed\xa0\x80 \xf4\x90\x80\x80", LineBreaks::kReplace,
       "? ?? ??? ????"},
      // Bidirectional overrides and isolates, which reorder the line.
      {"a\xe2\x80\xaa\xe2\x80\xae"
       "exe.txt\xe2\x81\xa6\xe2\x81\xa9\xe2\x80\xab",
       LineBreaks::kReplace, "a??exe.txt???"},
      {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xf0\x9f\x94\x92",
       LineBreaks::kReplace,
       "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xf0\x9f\x94\x92"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(TerminalSafe(c.text, c.line_breaks), c.expected);
  }
}

}  // namespace
}  // namespace sealprobe

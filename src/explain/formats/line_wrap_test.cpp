#include "explain/formats/line_wrap.h"

#include <gtest/gtest.h>

#include <string>

namespace sealprobe {
namespace {

TEST(LineWrapTest, WrapsWordsAndCutsBetweenCharacters) {
  const struct {
    const char* name;
    size_t width;
    std::string first, text, rest, expected;
  } kCases[] = {
      {"fits", 10, "> ", "a b c", "  ", "> a b c\n"},
      {"words move on whole", 10, "> ", "alpha beta gamma", "  ",
       "> alpha\n  beta\n  gamma\n"},
      {"spaces between words collapse", 10, "", "abc   def ", "", "abc def\n"},
      {"a word longer than a line is cut", 4, "", "abcdefghij", "",
       "abcd\nefgh\nij\n"},
      // One column a character, however many octets it takes.
      {"two-octet characters", 3, "", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", "",
       "\xc3\xa9\xc3\xa9\xc3\xa9\n\xc3\xa9\n"},
      {"three-octet characters after a prefix", 4, "ab",
       "\xe6\x96\x87\xe6\x96\x87\xe6\x96\x87", "ab",
       "ab\xe6\x96\x87\xe6\x96\x87\nab\xe6\x96\x87\n"},
      {"no room at all still takes a character", 2, "abc", "\xe6\x96\x87x", "",
       "abc\xe6\x96\x87\nx\n"},
      // A colour in a prefix takes no column.
      {"escape sequences in a prefix", 6, "\x1b[31mX\x1b[0m ", "abcd efg", "  ",
       "\x1b[31mX\x1b[0m abcd\n  efg\n"},
      {"nothing but the prefix", 10, "label", "", "", "label\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    LineWrap wrap(c.width);
    wrap.Add(c.first, c.text, c.rest);
    EXPECT_EQ(wrap.str(), c.expected);
  }
}

}  // namespace
}  // namespace sealprobe

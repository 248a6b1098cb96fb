#include "explain/formats/xml_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace sealprobe {
namespace {

// What a JUnit consumer's XML parser would refuse never reaches it: markup
// characters and line breaks as references, characters XML 1.0 cannot hold
// and bytes that are not UTF-8 as U+FFFD; every other character as it is.
TEST(XmlWriterTest, TextIsXmlWhateverTheBytes) {
  const std::string kFffd = "\xef\xbf\xbd";
  const struct {
    const char* name;
    std::string text, xml;
  } kCases[] = {
      {"plain", "tv-Strings.dll", "tv-Strings.dll"},
      {"markup and quotes", "<a b=\"c\">&'", "&lt;a b=&quot;c&quot;&gt;&amp;'"},
      {"a CDATA end", "]]>", "]]&gt;"},
      {"tab and line breaks", "\t\n\r", "&#9;&#10;&#13;"},
      {"C0 controls", std::string("\x01\x1b[2J\0", 6),
       kFffd + kFffd + "[2J" + kFffd},
      {"DEL and C1, which XML allows", "\x7f\xc2\x85", "\x7f\xc2\x85"},
      {"U+FFFE and U+FFFF", "\xef\xbf\xbe|\xef\xbf\xbf", kFffd + "|" + kFffd},
      {"U+FFFD and U+10FFFF", "\xef\xbf\xbd\xf4\x8f\xbf\xbf",
       "\xef\xbf\xbd\xf4\x8f\xbf\xbf"},
      {"not UTF-8", "\xff|\xc0\xaf|\xe2\x82",
       kFffd + "|" + kFffd + kFffd + "|" + kFffd},
      {"a surrogate", "\xed\xa0\x80", kFffd + kFffd + kFffd},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(XmlText(c.text), c.xml);
  }
}

}  // namespace
}  // namespace sealprobe

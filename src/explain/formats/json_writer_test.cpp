#include "explain/formats/json_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "explain/formats/text_encodings.h"

namespace sealprobe {
namespace {

// Strict UTF-8 out, whatever comes in: what is not UTF-8 is U+FFFD, the
// longest start of a character one replacement; control characters, C1
// included, are escaped; every other character is kept as it is.
TEST(JsonWriterTest, StringsAreStrictUtf8WithControlsEscaped) {
  const struct {
    std::string text, json;
    bool utf8;
  } kCases[] = {
      {"plain", "\"plain\"", true},
      {"a\"b\\c", "\"a\\\"b\\\\c\"", true},
      {std::string("\x01\n\x1b[2J\0", 7), "\"\\u0001\\u000a\\u001b[2J\\u0000\"",
       true},
      {"\x7f\xc2\x9b"
       "31m\xc2\x9f",
       "\"\\u007f\\u009b31m\\u009f\"", true},
      {"\xc2\xa0\xc3\xa9\xe6\x96\x87\xf0\x9f\x94\x92",
       "\"\xc2\xa0\xc3\xa9\xe6\x96\x87\xf0\x9f\x94\x92\"", true},
      {"\xff", "\"\\ufffd\"", false},
      {"overlong \xc0\xaf", "\"overlong \\ufffd\\ufffd\"", false},
      {"truncated \xe2\x82", "\"truncated \\ufffd\"", false},
      {"surrogate \xed\xa0\x80", "\"surrogate \\ufffd\\ufffd\\ufffd\"", false},
      {"beyond \xf4\x90\x80\x80", "\"beyond \\ufffd\\ufffd\\ufffd\\ufffd\"",
       false},
      {"\xe2\x82!", "\"\\ufffd!\"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(JsonString(c.text), c.json);
    EXPECT_EQ(IsUtf8(c.text), c.utf8);
  }
}

TEST(JsonWriterTest, ValuesAndBase64) {
  EXPECT_EQ(JsonObject({{"a", "1"}, {"b", JsonArray({"true", "null"})}}),
            "{\"a\": 1, \"b\": [true, null]}");
  EXPECT_EQ(JsonObject({}), "{}");
  EXPECT_EQ(JsonStringOrNull(""), "null");
  const struct {
    std::string bytes, base64;
  } kCases[] = {{"", ""},
                {"f", "Zg=="},
                {"fo", "Zm8="},
                {"foo", "Zm9v"},
                {"\xff\xfe\xfd\xfc", "//79/A=="}};
  for (const auto& c : kCases) EXPECT_EQ(Base64(c.bytes), c.base64);
}

}  // namespace
}  // namespace sealprobe

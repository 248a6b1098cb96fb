#include "driver/ui_level.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

TEST(ParseUiLevelTest, ReadsLeadingDecimalNumber) {
  const struct {
    NativeStringView text;
    int32_t expected;
  } kCases[] = {
      {SP_TEXT("4"), 4},
      {SP_TEXT("0"), 0},
      {SP_TEXT("-1"), -1},
      {SP_TEXT("+5"), 5},
      {SP_TEXT("5x"), 5},
      {SP_TEXT("  \t 7"), 7},
      {SP_TEXT("\r\n 3"), 3},
      {SP_TEXT("007"), 7},
      {SP_TEXT(""), 0},
      {SP_TEXT("   "), 0},
      {SP_TEXT("full"), 0},
      {SP_TEXT("x5"), 0},
      {SP_TEXT("-"), 0},
      {SP_TEXT("+-4"), 0},
      {SP_TEXT("- 4"), 0},
      {SP_TEXT("4 2"), 4},
      {SP_TEXT("2147483647"), 2147483647},
      {SP_TEXT("2147483648"), 2147483647},
      {SP_TEXT("99999999999999999999999999999999"), 2147483647},
      {SP_TEXT("-2147483648"), -2147483647 - 1},
      {SP_TEXT("-2147483649"), -2147483647 - 1},
      {SP_TEXT("-99999999999999999999999999999999"), -2147483647 - 1},
      {SP_TEXT("4294967300"), 2147483647},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(ParseUiLevel(c.text), c.expected);
  }
}

}  // namespace
}  // namespace sealprobe

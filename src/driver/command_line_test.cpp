#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

using Args = std::vector<NativeString>;

TEST(SplitAsInstallersQuoteTest, SplitsEachFormItMeetsAsTheRuleSays) {
  const struct {
    NativeStringView line;
    Args expected;
  } kCases[] = {
      // The program name: quotes toggle, backslashes are plain.
      {SP_TEXT(""), {SP_TEXT("")}},
      {SP_TEXT("p.exe"), {SP_TEXT("p.exe")}},
      {SP_TEXT("\"C:\\Program Files\\T\\p.exe\" a"),
       {SP_TEXT("C:\\Program Files\\T\\p.exe"), SP_TEXT("a")}},
      {SP_TEXT("C:\\T\\\"p q\".exe a"),
       {SP_TEXT("C:\\T\\p q.exe"), SP_TEXT("a")}},
      {SP_TEXT("\"C:\\T\\\" a"), {SP_TEXT("C:\\T\\"), SP_TEXT("a")}},
      {SP_TEXT(" a"), {SP_TEXT(""), SP_TEXT("a")}},
      // The examples of Microsoft's "Parsing C command-line arguments"
      // (learn.microsoft.com/cpp/c-language/parsing-c-command-line-arguments)
      // that the installers' exception leaves alone.
      {SP_TEXT("p \"a b c\" d e"),
       {SP_TEXT("p"), SP_TEXT("a b c"), SP_TEXT("d"), SP_TEXT("e")}},
      {SP_TEXT("p a\\\\\\b d\"e f\"g h"),
       {SP_TEXT("p"), SP_TEXT("a\\\\\\b"), SP_TEXT("de fg"), SP_TEXT("h")}},
      {SP_TEXT("p a\\\\\\\"b c d"),
       {SP_TEXT("p"), SP_TEXT("a\\\"b"), SP_TEXT("c"), SP_TEXT("d")}},
      {SP_TEXT("p a\\\\\\\\\"b c\" d e"),
       {SP_TEXT("p"), SP_TEXT("a\\\\b c"), SP_TEXT("d"), SP_TEXT("e")}},
      // "" inside a quoted part is a quote, and the part goes on (as the
      // runtime does it under Wine, too).
      {SP_TEXT("p a\"b\"\" c d"), {SP_TEXT("p"), SP_TEXT("ab\" c d")}},
      {SP_TEXT("p \"\" \"\"x"), {SP_TEXT("p"), SP_TEXT(""), SP_TEXT("x")}},
      {SP_TEXT("p \"ab\\\"c\" d"),
       {SP_TEXT("p"), SP_TEXT("ab\"c"), SP_TEXT("d")}},
      {SP_TEXT("p \"open to the end"),
       {SP_TEXT("p"), SP_TEXT("open to the end")}},
      {SP_TEXT("p\ta \t b \t"), {SP_TEXT("p"), SP_TEXT("a"), SP_TEXT("b")}},
      // The installers' exception: backslashes, then a quote, then a blank
      // or the end, inside a quoted part. The runtime would give "\" here.
      {SP_TEXT("p \"ab\\\"c\" \"\\\\\" d"),
       {SP_TEXT("p"), SP_TEXT("ab\"c"), SP_TEXT("\\\\"), SP_TEXT("d")}},
      {SP_TEXT("p \"C:\\Program Files\\Tarvo\\\" \"C:\\Common Files\\\" "
               "\"Tarvo\" \"Cannot verify {FileName}.\" 5"),
       {SP_TEXT("p"), SP_TEXT("C:\\Program Files\\Tarvo\\"),
        SP_TEXT("C:\\Common Files\\"), SP_TEXT("Tarvo"),
        SP_TEXT("Cannot verify {FileName}."), SP_TEXT("5")}},
      {SP_TEXT("p \"C:\\Tarvo\\\\\"\t\"\\\\srv\\share\\\""),
       {SP_TEXT("p"), SP_TEXT("C:\\Tarvo\\\\"), SP_TEXT("\\\\srv\\share\\")}},
      // Not before a blank, or outside quotes: the runtime's escaped quote.
      {SP_TEXT("p \"a \\\"b\\\"c\""), {SP_TEXT("p"), SP_TEXT("a \"b\"c")}},
      {SP_TEXT("p C:\\T\\\" x"),
       {SP_TEXT("p"), SP_TEXT("C:\\T\""), SP_TEXT("x")}},
      {SP_TEXT("p \"say \\\"hi\\\" now\""),
       {SP_TEXT("p"), SP_TEXT("say \"hi\\"), SP_TEXT("now")}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(SplitAsInstallersQuote(c.line), c.expected);
  }
}

// Which vector a run goes by; how the line is split is the table above's.
TEST(ChooseArgumentsTest, RuntimeSplitUnlessItLostTheFolders) {
  enum Choice { kRuntime, kResplit, kUsage };
  const Args kRuntimeFine = {SP_TEXT("p"),       SP_TEXT("C:\\P\\"),
                             SP_TEXT("C:\\C\\"), SP_TEXT("Tarvo"),
                             SP_TEXT("m"),       SP_TEXT("5")};
  const struct {
    const char* what;
    Args runtime;
    std::optional<NativeString> line;
    Choice expected;
  } kCases[] = {
      {"POSIX: argv as it is, quotes and all",
       {SP_TEXT("p"), SP_TEXT("/a\"b/"), SP_TEXT("/c/"), SP_TEXT("T"),
        SP_TEXT("m"), SP_TEXT("5")},
       std::nullopt,
       kRuntime},
      {"POSIX: four arguments",
       {SP_TEXT("p"), SP_TEXT("a"), SP_TEXT("b"), SP_TEXT("c"), SP_TEXT("d")},
       std::nullopt,
       kUsage},
      {"doubled backslashes: the runtime's single ones", kRuntimeFine,
       SP_TEXT("p \"C:\\P\\\\\" \"C:\\C\\\\\" Tarvo m 5"), kRuntime},
      {"a message with escaped quotes stays the runtime's",
       {SP_TEXT("p"), SP_TEXT("C:\\P\\"), SP_TEXT("C:\\C\\"), SP_TEXT("T"),
        SP_TEXT("Say \"{FileName}\" now"), SP_TEXT("5")},
       SP_TEXT("p C:\\P\\ C:\\C\\ T \"Say \\\"{FileName}\\\" now\" 5"),
       kRuntime},
      {"standard Common Files folder: six arguments from the runtime",
       {SP_TEXT("p"), SP_TEXT("C:\\Program Files\\T\" C:\\Program"),
        SP_TEXT("Files\\Common"), SP_TEXT("Files\""), SP_TEXT("T"),
        SP_TEXT("m"), SP_TEXT("5")},
       SP_TEXT("p \"C:\\Program Files\\T\\\" \"C:\\Program Files\\Common "
               "Files\\\" \"T\" \"m\" 5"),
       kResplit},
      {"one space in CommonFiles: five garbled arguments from the runtime",
       {SP_TEXT("p"), SP_TEXT("C:\\T\" C:\\Common"), SP_TEXT("F\""),
        SP_TEXT("T"), SP_TEXT("m"), SP_TEXT("5")},
       SP_TEXT("p \"C:\\T\\\" \"C:\\Common F\\\" \"T\" \"m\" 5"),
       kResplit},
      {"a quote the re-split keeps in a folder",
       {SP_TEXT("p"), SP_TEXT("C:\\P\""), SP_TEXT("C:\\C\\"), SP_TEXT("T"),
        SP_TEXT("m"), SP_TEXT("5")},
       SP_TEXT("p C:\\P\\\" C:\\C\\ T m 5"),
       kUsage},
      {"a quote in the CommonFiles folder only",
       {SP_TEXT("p"), SP_TEXT("C:\\P\\"), SP_TEXT("C:\\\"C"), SP_TEXT("T"),
        SP_TEXT("m"), SP_TEXT("5")},
       SP_TEXT("p C:\\P\\ C:\\\\\\\"C T m 5"),
       kUsage},
      {"too few either way",
       {SP_TEXT("p"), SP_TEXT("C:\\P\" only")},
       SP_TEXT("p \"C:\\P\\\" only"),
       kUsage},
      {"too many either way",
       {SP_TEXT("p"), SP_TEXT("1"), SP_TEXT("2"), SP_TEXT("3"), SP_TEXT("4"),
        SP_TEXT("5"), SP_TEXT("6")},
       SP_TEXT("p 1 2 3 4 5 6"),
       kUsage},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::optional<Args> expected;
    if (c.expected == kRuntime) expected = c.runtime;
    if (c.expected == kResplit) expected = SplitAsInstallersQuote(*c.line);
    EXPECT_EQ(ChooseArguments(c.runtime, c.line), expected);
  }
}

}  // namespace
}  // namespace sealprobe

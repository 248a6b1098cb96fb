#include "driver/command_line.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

using Args = std::vector<NativeString>;

// "a|b|c" as {"a", "b", "c"}: the tables write argument vectors that way.
Args Joined(NativeStringView arguments) {
  Args args(1);
  for (const NativeChar c : arguments) {
    if (c == SP_TEXT('|')) {
      args.emplace_back();
    } else {
      args.back().push_back(c);
    }
  }
  return args;
}

// A message holding "" beside the folders as "[INSTALLDIR]\" and as
// "[INSTALLDIR]" write them.
constexpr NativeStringView kQuotePairWithDoubledFolders = SP_TEXT(
    "p \"C:\\P\\\\\" \"C:\\C\\\\\" Tarvo \"Cannot verify \"\"{FileName}\"\" "
    "now.\" 5");
constexpr NativeStringView kQuotePairWithInstallerFolders = SP_TEXT(
    "p \"C:\\P\\\" \"C:\\C\\\" Tarvo \"Cannot verify \"\"{FileName}\"\" now.\" "
    "5");

// Each line split as installers quote and by the runtime's documented rules,
// which differ only by the installers' exception. Where they differ, the
// runtime's column is what Wine's msvcrt.dll (which keeps the rule since
// Visual C++ 2008 for "") gives the line from CreateProcessW.
TEST(CommandLineSplitTest, SplitsEachFormItMeetsAsTheRulesSay) {
  const struct {
    NativeStringView line;
    NativeStringView installers;          // the arguments, separated by '|'
    const NativeChar* runtime = nullptr;  // nullptr: the same
  } kCases[] = {
      // The program name: quotes toggle, backslashes are plain.
      {SP_TEXT(""), SP_TEXT("")},
      {SP_TEXT("p.exe"), SP_TEXT("p.exe")},
      {SP_TEXT("\"C:\\Program Files\\T\\p.exe\" a"),
       SP_TEXT("C:\\Program Files\\T\\p.exe|a")},
      {SP_TEXT("C:\\T\\\"p q\".exe a"), SP_TEXT("C:\\T\\p q.exe|a")},
      {SP_TEXT("\"C:\\T\\\" a"), SP_TEXT("C:\\T\\|a")},
      {SP_TEXT(" a"), SP_TEXT("|a")},
      // The examples of Microsoft's "Parsing C command-line arguments"
      // (learn.microsoft.com/cpp/c-language/parsing-c-command-line-arguments)
      // that the installers' exception leaves alone.
      {SP_TEXT("p \"a b c\" d e"), SP_TEXT("p|a b c|d|e")},
      {SP_TEXT("p a\\\\\\b d\"e f\"g h"), SP_TEXT("p|a\\\\\\b|de fg|h")},
      {SP_TEXT("p a\\\\\\\"b c d"), SP_TEXT("p|a\\\"b|c|d")},
      {SP_TEXT("p a\\\\\\\\\"b c\" d e"), SP_TEXT("p|a\\\\b c|d|e")},
      // "" inside a quoted part is a quote, and the part goes on (as the
      // runtime does it under Wine, too; Windows' msvcrt.dll would end it).
      {SP_TEXT("p a\"b\"\" c d"), SP_TEXT("p|ab\" c d")},
      {kQuotePairWithDoubledFolders,
       SP_TEXT("p|C:\\P\\|C:\\C\\|Tarvo|Cannot verify \"{FileName}\" now.|5")},
      {SP_TEXT("p \"\" \"\"x"), SP_TEXT("p||x")},
      {SP_TEXT("p \"ab\\\"c\" d"), SP_TEXT("p|ab\"c|d")},
      {SP_TEXT("p \"open to the end"), SP_TEXT("p|open to the end")},
      {SP_TEXT("p\ta \t b \t"), SP_TEXT("p|a|b")},
      // The installers' exception: an odd run of backslashes, then a quote,
      // then a blank or the end, inside a quoted part, is kept whole, where
      // the runtime would read an escaped quote.
      {SP_TEXT("p \"C:\\Program Files\\Tarvo\\\" \"C:\\Common Files\\\" "
               "\"Tarvo\" \"Cannot verify {FileName}.\" 5"),
       SP_TEXT("p|C:\\Program Files\\Tarvo\\|C:\\Common Files\\|Tarvo|Cannot "
               "verify {FileName}.|5"),
       SP_TEXT("p|C:\\Program Files\\Tarvo\" C:\\Common|Files\"|Tarvo|Cannot "
               "verify {FileName}.|5")},
      {kQuotePairWithInstallerFolders,
       SP_TEXT("p|C:\\P\\|C:\\C\\|Tarvo|Cannot verify \"{FileName}\" now.|5"),
       SP_TEXT("p|C:\\P\" C:\\C\"|Tarvo|Cannot verify \"{FileName}\" now.|5")},
      {SP_TEXT("p \"C:\\T\\\\\\\" x"), SP_TEXT("p|C:\\T\\\\\\|x"),
       SP_TEXT("p|C:\\T\\\" x")},
      // An even run there is halved, as the runtime reads it: kept whole,
      // a folder in extended-length form would end in an empty component.
      {SP_TEXT("p \"ab\\\"c\" \"\\\\\" d"), SP_TEXT("p|ab\"c|\\|d")},
      {SP_TEXT("p \"\\\\?\\C:\\P\\\\\" \"C:\\C\\\" T "
               "\"Reinstall from C:\\src\\\" 5"),
       SP_TEXT("p|\\\\?\\C:\\P\\|C:\\C\\|T|Reinstall from C:\\src\\|5"),
       SP_TEXT("p|\\\\?\\C:\\P\\|C:\\C\" T Reinstall|from|C:\\src\"|5")},
      {SP_TEXT("p \"C:\\Tarvo\\\\\"\t\"\\\\srv\\share\\\""),
       SP_TEXT("p|C:\\Tarvo\\|\\\\srv\\share\\"),
       SP_TEXT("p|C:\\Tarvo\\|\\\\srv\\share\"")},
      // Not before a blank, or outside quotes: the runtime's escaped quote.
      {SP_TEXT("p \"a \\\"b\\\"c\""), SP_TEXT("p|a \"b\"c")},
      {SP_TEXT("p C:\\T\\\" x"), SP_TEXT("p|C:\\T\"|x")},
      {SP_TEXT("p \"say \\\"hi\\\" now\""), SP_TEXT("p|say \"hi\\|now"),
       SP_TEXT("p|say \"hi\" now")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(SplitAsInstallersQuote(c.line), Joined(c.installers));
    EXPECT_EQ(SplitAsTheRuntimeDocuments(c.line),
              Joined(c.runtime ? c.runtime : c.installers));
  }
}

// Which vector a run goes by; how the line is split is the table above's.
TEST(ChooseArgumentsTest, RuntimeSplitUnlessItLostTheFolders) {
  enum Choice { kRuntime, kDocumented, kResplit, kUsage };
  constexpr NativeStringView kRuntimeFine =
      SP_TEXT("p|C:\\P\\|C:\\C\\|Tarvo|m|5");
  const struct {
    const char* what;
    NativeStringView runtime;  // as Joined takes it
    std::optional<NativeString> line;
    Choice expected;
  } kCases[] = {
      {"POSIX: argv as it is, quotes and all", SP_TEXT("p|/a\"b/|/c/|T|m|5"),
       std::nullopt, kRuntime},
      {"POSIX: four arguments", SP_TEXT("p|a|b|c|d"), std::nullopt, kUsage},
      {"doubled backslashes: the runtime's single ones", kRuntimeFine,
       SP_TEXT("p \"C:\\P\\\\\" \"C:\\C\\\\\" Tarvo m 5"), kRuntime},
      {"a message with escaped quotes stays the runtime's",
       SP_TEXT("p|C:\\P\\|C:\\C\\|T|Say \"{FileName}\" now|5"),
       SP_TEXT("p C:\\P\\ C:\\C\\ T \"Say \\\"{FileName}\\\" now\" 5"),
       kRuntime},
      {"standard Common Files folder: six arguments from the runtime",
       SP_TEXT(
           "p|C:\\Program Files\\T\" C:\\Program|Files\\Common|Files\"|T|m|5"),
       SP_TEXT("p \"C:\\Program Files\\T\\\" \"C:\\Program Files\\Common "
               "Files\\\" \"T\" \"m\" 5"),
       kResplit},
      {"one space in CommonFiles: five garbled arguments from the runtime",
       SP_TEXT("p|C:\\T\" C:\\Common|F\"|T|m|5"),
       SP_TEXT("p \"C:\\T\\\" \"C:\\Common F\\\" \"T\" \"m\" 5"), kResplit},
      {"a quote the re-split keeps in a folder",
       SP_TEXT("p|C:\\P\"|C:\\C\\|T|m|5"), SP_TEXT("p C:\\P\\\" C:\\C\\ T m 5"),
       kUsage},
      {"a quote in the CommonFiles folder only",
       SP_TEXT("p|C:\\P\\|C:\\\"C|T|m|5"),
       SP_TEXT("p C:\\P\\ C:\\\\\\\"C T m 5"), kUsage},
      // Windows' own msvcrt.dll ends a quoted part at "" (the rule before
      // Visual C++ 2008: David Deley, "How Command Line Parameters Are
      // Parsed", daviddeley.com/autohotkey/parameters/parameters.htm), and
      // cuts the message; the documented rule keeps it whole.
      {"\"\" in the message, split by msvcrt.dll",
       SP_TEXT("p|C:\\P\\|C:\\C\\|Tarvo|Cannot verify \"{FileName}|now. 5"),
       NativeString(kQuotePairWithDoubledFolders), kDocumented},
      {"\"\" in the message, split by a runtime since 2008",
       SP_TEXT("p|C:\\P\\|C:\\C\\|Tarvo|Cannot verify \"{FileName}\" now.|5"),
       NativeString(kQuotePairWithDoubledFolders), kDocumented},
      {"\"\" in the message and \"[INSTALLDIR]\" folders, split by msvcrt.dll",
       SP_TEXT("p|C:\\P\" C:\\C\"|Tarvo|Cannot verify \"{FileName}|now. 5"),
       NativeString(kQuotePairWithInstallerFolders), kResplit},
      {"too few either way", SP_TEXT("p|C:\\P\" only"),
       SP_TEXT("p \"C:\\P\\\" only"), kUsage},
      {"too many either way", SP_TEXT("p|1|2|3|4|5|6"),
       SP_TEXT("p 1 2 3 4 5 6"), kUsage},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::optional<Args> expected;
    if (c.expected == kRuntime) expected = Joined(c.runtime);
    if (c.expected == kDocumented) {
      expected = SplitAsTheRuntimeDocuments(*c.line);
    }
    if (c.expected == kResplit) expected = SplitAsInstallersQuote(*c.line);
    EXPECT_EQ(ChooseArguments(Joined(c.runtime), c.line), expected);
  }
}

}  // namespace
}  // namespace sealprobe

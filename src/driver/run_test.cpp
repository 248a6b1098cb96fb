#include "driver/run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "product_files/manifest.h"
#include "testing/fake_platform.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

using fakes::Event;
using fakes::EventLog;
using fakes::FakePlatform;

std::vector<NativeString> Args(
    NativeStringView ui_level,
    NativeStringView message = SP_TEXT("Cannot verify {FileName}.")) {
  return {SP_TEXT("SealProbe.exe"), SP_TEXT("P\\"),
          SP_TEXT("C\\"),           SP_TEXT("Tarvo"),
          NativeString(message),    NativeString(ui_level)};
}

NativeString Path(NativeStringView folder, NativeStringView name) {
  NativeString path(folder);
  path.append(name);
  return path;
}

// Whether a run did nothing but write to the console: no file probed or
// verified, no dialog.
bool OnlyWrote(const EventLog& log) {
  return std::all_of(log.begin(), log.end(), [](const NativeString& event) {
    return event.rfind(SP_TEXT("write "), 0) == 0;
  });
}

NativeString Valid(const NativeString& path) {
  return SP_TEXT("\"") + path + SP_TEXT("\" has a valid digital signature.\n");
}

// The usage text itself is pinned where the real tool prints it, on both
// builds (e2e_test.py); here, that a run without five arguments writes it
// and does nothing else.
TEST(RunTest, WrongArgumentCountWritesUsageAndTouchesNothing) {
  NativeString usage;
  for (size_t count : {0, 1, 2, 5, 7, 12}) {
    SCOPED_TRACE(testing::Message() << count << " elements");
    FakePlatform fake;
    std::vector<NativeString> args(count, SP_TEXT("x"));
    EXPECT_EQ(RunSealProbe(args, fake.platform), ExitCode::kUsage);
    EXPECT_TRUE(OnlyWrote(fake.log));
    if (usage.empty()) usage = fake.console.output;
    EXPECT_EQ(fake.console.output, usage);
  }
  EXPECT_FALSE(usage.empty());
}

TEST(RunTest, FoldersLostToInstallerQuotingAreTakenFromTheCommandLine) {
  // What the runtime makes of "C:\T\" "C:\Common F\" "Tarvo" "m" 5.
  const std::vector<NativeString> garbled = {SP_TEXT("SealProbe.exe"),
                                             SP_TEXT("C:\\T\" C:\\Common"),
                                             SP_TEXT("F\""),
                                             SP_TEXT("Tarvo"),
                                             SP_TEXT("m"),
                                             SP_TEXT("5")};
  const NativeString line =
      SP_TEXT("SealProbe.exe \"C:\\T\\\" \"C:\\Common F\\\" \"Tarvo\" \"m\" 5");
  {
    FakePlatform fake;
    const NativeString found =
        Path(SP_TEXT("C:\\Common F\\"), kProductFileManifest[0]);
    fake.files.present.insert(found);
    EXPECT_EQ(RunSealProbe(garbled, fake.platform, line), ExitCode::kAllValid);
    EXPECT_EQ(fake.log.front(), Event(SP_TEXT("open"), found));
    EXPECT_EQ(fake.console.output.rfind(Valid(found), 0), 0u);
  }
  {
    // A line that does not give five arguments either: usage, and the
    // garbled folders are never looked in.
    FakePlatform fake;
    EXPECT_EQ(RunSealProbe(garbled, fake.platform,
                           SP_TEXT("SealProbe.exe \"C:\\T\\\" only")),
              ExitCode::kUsage);
    EXPECT_FALSE(fake.console.output.empty());
    EXPECT_TRUE(OnlyWrote(fake.log));
  }
}

TEST(RunTest, AllFilesMissingListsEveryEntryAndSucceeds) {
  FakePlatform fake;
  EXPECT_EQ(RunSealProbe(Args(SP_TEXT("5")), fake.platform),
            ExitCode::kAllValid);
  NativeString expected;
  for (NativeStringView name : kProductFileManifest) {
    expected +=
        SP_TEXT("\tNon-existing file: ") + NativeString(name) + SP_TEXT("\n");
  }
  EXPECT_EQ(fake.console.output, expected);
}

TEST(RunTest, AllFilesValidWalksEveryEntryInOrderWithHandleHeldDuringVerify) {
  FakePlatform fake;
  for (NativeStringView name : kProductFileManifest) {
    fake.files.present.insert(Path(SP_TEXT("C\\"), name));
  }
  EXPECT_EQ(RunSealProbe(Args(SP_TEXT("5")), fake.platform),
            ExitCode::kAllValid);

  // Every console write is in the log, in order with the rest.
  EventLog expected;
  for (NativeStringView name : kProductFileManifest) {
    const NativeString path = Path(SP_TEXT("C\\"), name);
    expected.push_back(Event(SP_TEXT("open"), path));
    expected.push_back(Event(SP_TEXT("verify"), path));
    expected.push_back(Event(SP_TEXT("write"), Valid(path)));
    expected.push_back(SP_TEXT("write SealProbe: SUCCEEDED.\n"));
    expected.push_back(Event(SP_TEXT("close"), path));
  }
  EXPECT_EQ(fake.log, expected);
}

TEST(RunTest, ToolItselfIsCheckedTwiceInARow) {
  FakePlatform fake;
  const NativeString self = Path(SP_TEXT("P\\"), SP_TEXT("SealProbe.exe"));
  fake.files.present.insert(self);
  EXPECT_EQ(RunSealProbe(Args(SP_TEXT("0")), fake.platform),
            ExitCode::kAllValid);
  const NativeString lines = Valid(self) + SP_TEXT("SealProbe: SUCCEEDED.\n");
  EXPECT_NE(fake.console.output.find(lines + lines), NativeString::npos);
}

TEST(RunTest, FailureAtFirstEntryStopsTheWalk) {
  FakePlatform fake;
  const NativeString first = Path(SP_TEXT("C\\"), kProductFileManifest[0]);
  fake.files.present.insert(first);
  fake.files.present.insert(Path(SP_TEXT("C\\"), kProductFileManifest[1]));
  fake.trust.results[first] = {status::kTrustNoSignature,
                               status::kTrustNoSignature};

  EXPECT_EQ(RunSealProbe(Args(SP_TEXT("2")), fake.platform),
            ExitCode::kFileFailed);
  EXPECT_EQ(fake.console.output,
            SP_TEXT("The file \"") + first +
                SP_TEXT("\" is not digitally signed.\nSealProbe: FAILED.\n"));
  EXPECT_EQ(fake.log.back(), Event(SP_TEXT("close"), first));
}

TEST(RunTest, TrustServiceThatCouldNotLoadFailsTheFirstFileFound) {
  // Load errors become HRESULT_FROM_WIN32 codes, which the verdict table
  // knows by no sentence: an "Error is:" line, never a valid one.
  const struct {
    uint32_t load_error;
    NativeStringView line;
  } kCases[] = {
      {126, SP_TEXT("Error is: 0x8007007e.\n")},  // ERROR_MOD_NOT_FOUND
      {127, SP_TEXT("Error is: 0x8007007f.\n")},  // ERROR_PROC_NOT_FOUND
      {193, SP_TEXT("Error is: 0x800700c1.\n")},  // ERROR_BAD_EXE_FORMAT
      {5, SP_TEXT("Error is: 0x80070005.\n")},    // ERROR_ACCESS_DENIED
      {0x0001007e, SP_TEXT("Error is: 0x8007007e.\n")},
      // No code at all, or one that is an HRESULT already.
      {0, SP_TEXT("Error is: 0x80004005.\n")},
      {0x80070002, SP_TEXT("Error is: 0x80070002.\n")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    FakePlatform fake;
    const NativeString found = Path(SP_TEXT("P\\"), SP_TEXT("Panel.exe"));
    fake.files.present.insert(found);
    const uint32_t status = status::LoadFailureStatus(c.load_error);
    fake.trust.results[found] = {status, status};
    EXPECT_EQ(RunSealProbe(Args(SP_TEXT("0")), fake.platform),
              ExitCode::kFileFailed);
    const NativeString tail =
        NativeString(c.line) + SP_TEXT("SealProbe: FAILED.\n");
    ASSERT_GE(fake.console.output.size(), tail.size());
    EXPECT_EQ(
        fake.console.output.substr(fake.console.output.size() - tail.size()),
        tail);
  }
}

TEST(RunTest, DialogStandsBetweenVerdictAndFailedLineOnlyAboveLevelThree) {
  const NativeString bad = Path(SP_TEXT("P\\"), SP_TEXT("tv-Strings.dll"));
  const struct {
    NativeStringView ui_level;
    bool dialog;
  } kCases[] = {
      {SP_TEXT("4"), true},
      {SP_TEXT("5"), true},
      {SP_TEXT(" 99x"), true},
      {SP_TEXT("3"), false},
      {SP_TEXT("0"), false},
      {SP_TEXT("-1"), false},
      {SP_TEXT("full"), false},
      {SP_TEXT(""), false},
      {SP_TEXT("-99999999999"), false},
  };
  NativeString first_output;
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    FakePlatform fake;
    fake.files.present.insert(Path(SP_TEXT("C\\"), kProductFileManifest[0]));
    fake.files.present.insert(bad);
    fake.trust.results[bad] = {status::kTrustBadDigest,
                               status::kTrustBadDigest};

    EXPECT_EQ(RunSealProbe(Args(c.ui_level), fake.platform),
              ExitCode::kFileFailed);

    const auto verdict = std::find(fake.log.begin(), fake.log.end(),
                                   SP_TEXT("write Error is: 0x80096010.\n"));
    ASSERT_NE(verdict, fake.log.end());
    EventLog after(verdict + 1, fake.log.end());
    EventLog expected;
    if (c.dialog) {
      expected.push_back(SP_TEXT("dialog Tarvo|Cannot verify tv-Strings.dll."));
    }
    expected.push_back(SP_TEXT("write SealProbe: FAILED.\n"));
    expected.push_back(Event(SP_TEXT("close"), bad));
    EXPECT_EQ(after, expected);

    // The console sees the same lines whether or not a dialog was shown.
    if (first_output.empty()) first_output = fake.console.output;
    EXPECT_EQ(fake.console.output, first_output);
  }
}

TEST(RunTest, DialogCaptionIsProductNameEvenWhenEmpty) {
  FakePlatform fake;
  const NativeString bad = Path(SP_TEXT("C\\"), kProductFileManifest[0]);
  fake.files.present.insert(bad);
  fake.trust.results[bad] = {status::kCertUntrustedRoot, 0};
  std::vector<NativeString> args = Args(SP_TEXT("4"), SP_TEXT("{FileName}"));
  args[3].clear();
  EXPECT_EQ(RunSealProbe(args, fake.platform), ExitCode::kFileFailed);
  EXPECT_NE(std::find(fake.log.begin(), fake.log.end(),
                      SP_TEXT("dialog |tv-Common.v5.21.40.0.dll")),
            fake.log.end());
}

}  // namespace
}  // namespace sealprobe

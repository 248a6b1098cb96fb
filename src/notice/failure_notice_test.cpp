#include "notice/failure_notice.h"

#include <gtest/gtest.h>

#include "notice/error_dialog.h"

namespace sealprobe {
namespace {

TEST(FailureNoticeTest, SplitsAtFirstPlaceholderAndBuildsDialogText) {
  const struct {
    NativeStringView message;
    NativeStringView dialog;  // for the failing entry "tv-Strings.dll"
  } kCases[] = {
      {SP_TEXT("Cannot verify {FileName}. Reinstall."),
       SP_TEXT("Cannot verify tv-Strings.dll. Reinstall.")},
      {SP_TEXT("{FileName} is damaged"), SP_TEXT("tv-Strings.dll is damaged")},
      {SP_TEXT("Damaged: {FileName}"), SP_TEXT("Damaged: tv-Strings.dll")},
      {SP_TEXT("{FileName}"), SP_TEXT("tv-Strings.dll")},
      {SP_TEXT("{FileName} and {FileName}"),
       SP_TEXT("tv-Strings.dll and {FileName}")},
      {SP_TEXT("a{FileName}{FileName}b"),
       SP_TEXT("atv-Strings.dll{FileName}b")},
      {SP_TEXT("{{FileName}}"), SP_TEXT("{tv-Strings.dll}")},
      // No exact placeholder: the message stays whole and the name follows.
      {SP_TEXT("Verification failed."),
       SP_TEXT("Verification failed.\n\ntv-Strings.dll")},
      {SP_TEXT("Bad {filename}"), SP_TEXT("Bad {filename}\n\ntv-Strings.dll")},
      {SP_TEXT("{FileName"), SP_TEXT("{FileName\n\ntv-Strings.dll")},
      {SP_TEXT("short"), SP_TEXT("short\n\ntv-Strings.dll")},
      {SP_TEXT(""), SP_TEXT("tv-Strings.dll")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    const FailureNotice notice = PrepareFailureNotice(NativeString(c.message));
    EXPECT_EQ(DialogText(notice, SP_TEXT("tv-Strings.dll")), c.dialog);
  }
}

// Since Windows Vista session 0 is the services' own and non-interactive;
// users log on to session 1 and later ("Application Compatibility: Session 0
// Isolation", learn.microsoft.com/previous-versions/bb756986(v=msdn.10);
// "Interactive Services", learn.microsoft.com/windows/win32/services/
// interactive-services). Wine has no session 0, so the rule is pinned here.
// A program started with STARTF_USESHOWWINDOW and SW_HIDE shows its first
// window hidden: "ShowWindow" (learn.microsoft.com/windows/win32/api/winuser/
// nf-winuser-showwindow) says nCmdShow "is ignored the first time an
// application calls ShowWindow, if the program that launched the application
// provides a STARTUPINFO structure", and "STARTUPINFOW" (.../api/
// processthreadsapi/ns-processthreadsapi-startupinfow) that wShowWindow then
// "specifies the default value". Only the input desktop is on the screen
// ("OpenInputDesktop", .../api/winuser/nf-winuser-openinputdesktop: "Opens the
// desktop that receives user input"). Wine's conformance tests, which run on
// Windows, cut a thread moved to a new desktop off from input (SendInput fails
// with ERROR_ACCESS_DENIED) until SwitchDesktop makes that desktop the input
// one, which OpenInputDesktop then names (dlls/user32/tests/winstation.c,
// test_inputdesktop).
TEST(DialogCanBeAnsweredTest, OnlyWhereAUserCanSeeAndDismissIt) {
  const struct {
    const char* what;
    DialogSurroundings where;  // session, station visible, hidden, input
    bool answered;
  } kCases[] = {
      {"the user's visible desktop", {1, true, false, true}, true},
      {"session 0", {0, true, false, true}, false},
      {"an invisible station", {1, false, false, true}, false},
      {"an unknown session", {std::nullopt, true, false, true}, false},
      {"an unknown station", {1, std::nullopt, false, true}, false},
      {"started hidden", {1, true, true, true}, false},
      {"a second desktop", {1, true, false, false}, false},
      {"a desktop that cannot be read", {1, true, false, std::nullopt}, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DialogCanBeAnswered(c.where), c.answered);
  }
}

}  // namespace
}  // namespace sealprobe

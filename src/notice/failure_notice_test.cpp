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
TEST(DialogCanBeAnsweredTest, OnlyInAUserSessionOnAVisibleStation) {
  const struct {
    std::optional<uint32_t> session;
    std::optional<bool> station_visible;
    bool answered;
  } kCases[] = {
      {1, true, true},          {0, true, false},
      {1, false, false},        {std::nullopt, true, false},
      {1, std::nullopt, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(DialogCanBeAnswered(c.session, c.station_visible), c.answered);
  }
}

}  // namespace
}  // namespace sealprobe

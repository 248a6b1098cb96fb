#include "long_path.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

// Microsoft's "Maximum Path Length Limitation"
// (learn.microsoft.com/windows/win32/fileio/maximum-file-path-limitation):
// MAX_PATH is 260 characters, terminating null included; an extended-length
// path is "\\?\D:\very long path", and a UNC one "\\?\UNC\server\share\...".
// "\\?\" paths are passed on without parsing, so only absolute paths with
// backslashes may carry the prefix.
TEST(LongPathTest, ExtendedLengthFormOfAnAbsolutePath) {
  const struct {
    NativeStringView full_path;
    NativeStringView expected;
  } kCases[] = {
      {SP_TEXT("C:\\Program Files\\Tarvo\\a.dll"),
       SP_TEXT("\\\\?\\C:\\Program Files\\Tarvo\\a.dll")},
      {SP_TEXT("\\\\server\\share\\Tarvo\\a.dll"),
       SP_TEXT("\\\\?\\UNC\\server\\share\\Tarvo\\a.dll")},
      {SP_TEXT("\\\\?\\C:\\a.dll"), SP_TEXT("\\\\?\\C:\\a.dll")},
      {SP_TEXT("\\\\?\\UNC\\server\\share\\a.dll"),
       SP_TEXT("\\\\?\\UNC\\server\\share\\a.dll")},
      {SP_TEXT("\\\\.\\C:\\a.dll"), SP_TEXT("\\\\.\\C:\\a.dll")},
      {SP_TEXT("Z:\\"), SP_TEXT("\\\\?\\Z:\\")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(ExtendedLengthForm(c.full_path), c.expected);
  }
}

TEST(LongPathTest, OnlyPathsOfMaxPathCharactersOrMoreNeedIt) {
  const NativeString folder = SP_TEXT("C:\\") + NativeString(240, 'd');
  const NativeString at_259 = folder + SP_TEXT("\\") + NativeString(15, 'f');
  ASSERT_EQ(at_259.size(), 259u);
  const NativeString at_260 = at_259 + SP_TEXT("f");
  const NativeString relative = SP_TEXT("Tarvo\\Common Files\\a.dll");
  const struct {
    NativeString path;
    NativeString full_path;
    bool needed;
  } kCases[] = {
      {at_259, at_259, false},
      {at_260, at_260, true},
      // A short relative path in a deep current folder.
      {relative, folder + SP_TEXT("\\") + relative, true},
      {relative, SP_TEXT("C:\\") + relative, false},
      // Long as given, shorter once ".." is resolved: still the long form.
      {at_259 + SP_TEXT("\\..\\x"), SP_TEXT("C:\\x"), true},
      // Prefixed already: left alone, however long.
      {SP_TEXT("\\\\?\\") + at_260, SP_TEXT("\\\\?\\") + at_260, false},
      {SP_TEXT("\\\\.\\") + at_260, SP_TEXT("\\\\.\\") + at_260, false},
      // What GetFullPathNameW gives for a path it could not make absolute.
      {SP_TEXT("a.dll"), SP_TEXT(""), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "case #" << (&c - kCases));
    EXPECT_EQ(NeedsExtendedLengthForm(c.path, c.full_path), c.needed);
  }
}

}  // namespace
}  // namespace sealprobe

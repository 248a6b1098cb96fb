#include "explain/decide/inputs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testing/test_support.h"

namespace sealprobe {
namespace {

struct Expected {
  std::vector<std::string> files;
  std::vector<InputProblem> problems;
};

void ExpectInputs(const std::vector<std::string>& args, const Expected& want,
                  const WalkLimits& limits = {}) {
  const Inputs got = CollectInputs(args, *MakePlatformFileTree(), limits);
  EXPECT_EQ(got.files, want.files);
  ASSERT_EQ(got.problems.size(), want.problems.size());
  for (size_t i = 0; i < want.problems.size(); ++i) {
    EXPECT_EQ(got.problems[i].path, want.problems[i].path);
    EXPECT_EQ(got.problems[i].reason.find(want.problems[i].reason), 0u)
        << got.problems[i].reason;
  }
}

TEST(CollectInputsTest, FoldersStandForTheProgramsUnderThem) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  const auto at = [&](const std::string& name) { return dir / name; };
  ASSERT_EQ(::mkdir(at("t").c_str(), 0755), 0);
  for (const char* folder : {"t/a", "t/deep", "t/deep/x", "t/deep/x/y"}) {
    ASSERT_EQ(::mkdir(at(folder).c_str(), 0755), 0);
  }
  for (const char* mz : {"t/app.exe", "t/readme.txt", "t/a-b.exe", "t/a.exe",
                         "t/a/b.exe", "t/\xe9.exe", "t/deep/x/y/z.dll"}) {
    ASSERT_TRUE(WriteFileBytes(at(mz), "MZ\x90"));
  }
  ASSERT_TRUE(WriteFileBytes(at("t/notes.exe"), "hello"));
  ASSERT_TRUE(WriteFileBytes(at("t/m.exe"), "M"));
  ASSERT_EQ(::symlink("app.exe", at("t/link.exe").c_str()), 0);
  ASSERT_EQ(::symlink("a", at("t/adir").c_str()), 0);
  ASSERT_EQ(::symlink("..", at("t/a/up").c_str()), 0);
  ASSERT_EQ(::symlink("self", at("t/self").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", at("t/dangling.exe").c_str()), 0);
  ASSERT_EQ(::mkfifo(at("t/fifo.exe").c_str(), 0644), 0);

  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> files;
    std::vector<InputProblem> problems;
    size_t max_entries;
  } kCases[] = {
      // By content, in byte order of the paths whatever the walk's order;
      // a link to a file is checked under its own path; links to folders
      // (a loop among them), links to nothing, FIFOs are left out.
      {"a folder",
       {at("t")},
       {at("t/a-b.exe"), at("t/a.exe"), at("t/a/b.exe"), at("t/app.exe"),
        at("t/deep/x/y/z.dll"), at("t/link.exe"), at("t/readme.txt"),
        at("t/\xe9.exe")},
       {},
       1000},
      // Arguments in their order; files as given, whatever they hold; a
      // link to a folder given as the argument is walked.
      {"files and folders",
       {at("t/notes.exe"), at("t/adir/"), at("missing.exe")},
       {at("t/notes.exe"), at("t/adir/b.exe"), at("missing.exe")},
       {},
       1000},
      {"over the cap", {at("t")}, {}, {{at("t"), "holds more than 3"}}, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WalkLimits limits;
    limits.max_entries = c.max_entries;
    ExpectInputs(c.args, {c.files, c.problems}, limits);
  }
}

TEST(CollectInputsTest, WhatCannotBeReadIsAProblemAndTheWalkGoesOn) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(dir / "locked/a.exe", "MZ"));
  ASSERT_TRUE(WriteFileBytes(dir / "secret.exe", "MZ"));
  ASSERT_TRUE(WriteFileBytes(dir / "ok.exe", "MZ"));
  ASSERT_EQ(::chmod((dir / "locked").c_str(), 0), 0);
  ASSERT_EQ(::chmod((dir / "secret.exe").c_str(), 0), 0);
  ExpectInputs({dir / ""}, {{dir / "ok.exe"},
                            {{dir / "secret.exe", "Permission denied"},
                             {dir / "locked/", "Permission denied"}}});
  ::chmod((dir / "locked").c_str(), 0755);
}

}  // namespace
}  // namespace sealprobe

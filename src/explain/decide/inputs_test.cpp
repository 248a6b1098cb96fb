#include "explain/decide/inputs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "testing/test_support.h"

namespace sealprobe {
namespace {

using Listed = std::pair<std::string, std::optional<FileKind>>;

struct Expected {
  std::vector<Listed> files;  // each path, and the kind of one not verified
  std::vector<InputProblem> problems;
  std::vector<FolderCount> folders = {};
};

void ExpectInputs(const std::vector<std::string>& args, const Expected& want,
                  const WalkLimits& limits = {}) {
  const Inputs got = CollectInputs(args, *MakePlatformFileTree(), limits);
  std::vector<Listed> files;
  for (const InputFile& file : got.files) {
    files.emplace_back(file.path, file.unsupported);
  }
  EXPECT_EQ(files, want.files);
  ASSERT_EQ(got.problems.size(), want.problems.size());
  for (size_t i = 0; i < want.problems.size(); ++i) {
    EXPECT_EQ(got.problems[i].path, want.problems[i].path);
    EXPECT_EQ(got.problems[i].reason.find(want.problems[i].reason), 0u)
        << got.problems[i].reason;
  }
  ASSERT_EQ(got.folders.size(), want.folders.size());
  for (size_t i = 0; i < want.folders.size(); ++i) {
    const FolderCount &a = got.folders[i], &b = want.folders[i];
    EXPECT_EQ(std::tie(a.path, a.verified, a.unsupported, a.others),
              std::tie(b.path, b.verified, b.unsupported, b.others));
  }
}

// A compound file's header and its root's directory entry, of class
// {000C10xx-0000-0000-C000-000000000046}.
std::string CompoundFile(char xx) {
  std::string b(1024, '\0');
  b.replace(0, 8, "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1");
  b.replace(0x1a, 8, std::string("\x03\0\xfe\xff\x09\0\x06\0", 8));
  b[0x39] = 0x10;     // a mini stream cutoff of 4096
  b[512 + 0x42] = 5;  // the root
  b.replace(512 + 0x50, 16,
            std::string("\x00\x10\x0c\0\0\0\0\0\xc0\0\0\0\0\0\0F", 16));
  b[512 + 0x50] = xx;
  return b;
}

// `text` in UTF-16LE.
std::string Utf16(const std::string& text) {
  std::string out;
  for (const char c : text) out += std::string{c, '\0'};
  return out;
}

TEST(CollectInputsTest, FoldersStandForTheFilesWindowsSignsUnderThem) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  const auto at = [&](const std::string& name) { return dir / name; };
  ASSERT_EQ(::mkdir(at("t").c_str(), 0755), 0);
  for (const char* folder :
       {"t/a", "t/deep", "t/deep/x", "t/deep/x/y", "t/k", "e"}) {
    ASSERT_EQ(::mkdir(at(folder).c_str(), 0755), 0);
  }
  for (const char* mz : {"t/app.exe", "t/readme.txt", "t/a-b.exe", "t/a.exe",
                         "t/a/b.exe", "t/\xe9.exe", "t/deep/x/y/z.dll"}) {
    ASSERT_TRUE(WriteFileBytes(at(mz), "MZ\x90"));
  }
  const std::string catalog(
      "\x30\x82\x40\x00\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02\xa0"
      "\x82\x3f\xf0\x30\x82\x3f\xec\x02\x01\x01\x31\x00\x30\x82\x3f\x00"
      "\x06\x09\x2b\x06\x01\x04\x01\x82\x37\x0a\x01",
      43);
  // Contents by kind; a script's block is found at its end however long.
  for (const auto& [name, bytes] :
       std::vector<std::pair<std::string, std::string>>{
           {"t/notes.exe", "hello"},
           {"t/m.exe", "M"},
           {"t/k/p.msi", CompoundFile('\x84')},
           {"t/k/t.mst", CompoundFile('\x82')},
           {"t/k/bad.msi", CompoundFile('\x84').substr(0, 100)},
           {"t/k/x.cab", std::string("MSCF\0\0\0\0", 8)},
           {"t/k/half.cab", "MSCF"},
           {"t/k/x.cat", catalog},
           {"t/k/x.p7", catalog.substr(0, 42)},
           {"t/k/s.ps1",
            std::string(10000, ' ') + "\r\n# SIG # End signature block\r\n"},
           {"t/k/v.vbs", Utf16("x\r\n'' SIG '' End signature block\r\n")},
           {"t/k/a.msix", "PK\x03\x04" + std::string(9000, 'x') +
                              "PK\x01\x02" "AppxBlockMap.xml"},
           {"t/k/plain.zip", "PK\x03\x04readme.txt"}}) {
    ASSERT_TRUE(WriteFileBytes(at(name), bytes));
  }
  ASSERT_EQ(::symlink("app.exe", at("t/link.exe").c_str()), 0);
  ASSERT_EQ(::symlink("a", at("t/adir").c_str()), 0);
  ASSERT_EQ(::symlink("..", at("t/a/up").c_str()), 0);
  ASSERT_EQ(::symlink("self", at("t/self").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", at("t/dangling.exe").c_str()), 0);
  ASSERT_EQ(::mkfifo(at("t/fifo.exe").c_str(), 0644), 0);

  using K = FileKind;
  const struct {
    const char* name;
    std::vector<std::string> args;
    Expected want;
    size_t max_entries;
  } kCases[] = {
      // By content, in byte order of the paths whatever the walk's order;
      // a link to a file is checked under its own path; links to folders
      // (a loop among them), links to nothing, FIFOs are left out, and
      // files of no kind Windows signs are counted.
      {"a folder",
       {at("t")},
       {{{at("t/a-b.exe"), {}},
         {at("t/a.exe"), {}},
         {at("t/a/b.exe"), {}},
         {at("t/app.exe"), {}},
         {at("t/deep/x/y/z.dll"), {}},
         {at("t/k/a.msix"), K::kAppPackage},
         {at("t/k/bad.msi"), {}},
         {at("t/k/p.msi"), {}},
         {at("t/k/s.ps1"), K::kScript},
         {at("t/k/t.mst"), K::kCompoundFile},
         {at("t/k/v.vbs"), K::kScript},
         {at("t/k/x.cab"), K::kCabinet},
         {at("t/k/x.cat"), K::kCatalog},
         {at("t/link.exe"), {}},
         {at("t/readme.txt"), {}},
         {at("t/\xe9.exe"), {}}},
        {},
        {{at("t"), 10, 6, 5}}},
       1000},
      // Arguments in their order; files as given, whatever they hold, one
      // of a kind not verified marked so; a link to a folder given as the
      // argument is walked; an empty folder is counted.
      {"files and folders",
       {at("t/notes.exe"), at("t/adir/"), at("missing.exe"), at("t/k/x.cab"),
        at("e")},
       {{{at("t/notes.exe"), {}},
         {at("t/adir/b.exe"), {}},
         {at("missing.exe"), {}},
         {at("t/k/x.cab"), K::kCabinet}},
        {},
        {{at("t/adir/"), 1, 0, 0}, {at("e"), 0, 0, 0}}},
       1000},
      {"over the cap",
       {at("t")},
       {{}, {{at("t"), "holds more than 3"}}, {{at("t"), 0, 0, 0}}},
       3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    WalkLimits limits;
    limits.max_entries = c.max_entries;
    ExpectInputs(c.args, c.want, limits);
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
  ExpectInputs({dir / ""}, {{{dir / "ok.exe", {}}},
                            {{dir / "secret.exe", "Permission denied"},
                             {dir / "locked/", "Permission denied"}},
                            {{dir / "", 1, 0, 0}}});
  ::chmod((dir / "locked").c_str(), 0755);
}

}  // namespace
}  // namespace sealprobe

#include "explain/decide/staging.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "product_files/manifest.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

using Folder = ProductFolder;
using Kind = StagingFolderProblem::Kind;

TEST(CheckStagingTest, EveryEntryAsSealprobeProbesIt) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  for (const char* folder : {"P", "C", "full"}) {
    ASSERT_EQ(::mkdir((dir / folder).c_str(), 0755), 0);
  }
  // Entry 0 is in both folders, 1 in the product's only, 2 in neither;
  // 21 and 22 are the tool's own executable.
  const auto& names = kProductFileManifest;
  for (const auto& [folder, entry] : std::vector<std::pair<const char*, int>>{
           {"C/", 0}, {"P/", 0}, {"P/", 1}, {"P/", 21}}) {
    ASSERT_TRUE(WriteFileBytes(dir / (folder + std::string(names[entry])), ""));
  }
  for (NativeStringView name : names) {
    ASSERT_TRUE(WriteFileBytes(dir / ("full/" + std::string(name)), ""));
  }
  const std::string P = dir / "P/", C = dir / "C/";

  const struct {
    const char* name;
    std::string product, common_files;
    std::vector<std::pair<int, std::optional<Folder>>> found;  // entry: where
    std::vector<std::pair<Folder, Kind>> problems;
    std::string described;  // part of the first problem's description
    bool complete;
  } kCases[] = {
      {"CommonFiles wins, a missing entry",
       P,
       C,
       {{0, Folder::kCommonFiles},
        {1, Folder::kProduct},
        {2, std::nullopt},
        {21, Folder::kProduct},
        {22, Folder::kProduct}},
       {},
       "",
       false},
      {"a folder without its separator",
       dir / "P",
       C,
       {{0, Folder::kCommonFiles}, {1, std::nullopt}},
       {{Folder::kProduct, Kind::kNoSeparator}},
       "sealprobe looks for " + dir / "P" + std::string(names[0]) +
           ", beside it; give " + P,
       false},
      {"a folder that is not there",
       P,
       dir / "nowhere/",
       {{0, Folder::kProduct}, {1, Folder::kProduct}},
       {{Folder::kCommonFiles, Kind::kUnreadable}},
       "nowhere/ cannot be searched: No such file",
       false},
      {"everything there",
       dir / "full/",
       "",
       {{2, Folder::kProduct}},
       {},
       "",
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const StagingCheck check =
        CheckStaging(c.product, c.common_files, *MakePlatformFileTree(),
                     *MakePlatformFileOpener());
    ASSERT_EQ(check.entries.size(), names.size());
    for (const auto& [entry, where] : c.found) {
      SCOPED_TRACE(names[entry]);
      const StagingEntry& e = check.entries[entry];
      EXPECT_EQ(e.name, names[entry]);
      EXPECT_EQ(e.found, where);
      EXPECT_EQ(e.product_path, c.product + e.name);
      EXPECT_EQ(e.common_files_path, c.common_files + e.name);
    }
    ASSERT_EQ(check.problems.size(), c.problems.size());
    for (size_t i = 0; i < c.problems.size(); ++i) {
      EXPECT_EQ(check.problems[i].folder, c.problems[i].first);
      EXPECT_EQ(check.problems[i].kind, c.problems[i].second);
    }
    if (!c.problems.empty()) {
      EXPECT_NE(DescribeStagingProblem(check.problems[0]).find(c.described),
                std::string::npos)
          << DescribeStagingProblem(check.problems[0]);
    }
    EXPECT_EQ(check.complete(), c.complete);
  }
}

}  // namespace
}  // namespace sealprobe

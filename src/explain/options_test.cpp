#include "explain/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sealprobe {
namespace {

TEST(ParseExplainOptionsTest, TakesWhatTheUsageSaysAndRefusesTheRest) {
  const std::string sha1(40, 'a'), sha256(64, 'F');
  std::string colons = "AB";
  for (int i = 1; i < 20; ++i) colons += ":0c";
  const struct {
    std::vector<std::string> args;
    const char* error;  // the start of the complaint; null when taken
  } cases[] = {
      {{"a.exe", "dir/"}, nullptr},
      {{"--json", "--format", "sarif", "a"}, nullptr},
      {{"--format", "xml", "a"}, "--format takes"},
      {{"--format"}, "--format takes"},
      {{"--signer", sha1, "--signer", sha256, "--signer", colons, "a"},
       nullptr},
      {{"--signer", sha1.substr(1), "a"}, "--signer takes"},
      {{"--signer", colons + ":", "a"}, "--signer takes"},
      {{"--signer", "g" + sha1.substr(1), "a"}, "--signer takes"},
      // The pins that outlive a renewal: several, by commas too.
      {{"--signer-eku", "1.3.6.1.4.1.311.97.1,2.5.29.37.0", "--chain-includes",
        sha256 + "," + colons, "a"},
       nullptr},
      {{"--signer-eku", "codeSigning", "a"}, "--signer-eku takes"},
      {{"--signer-eku", "1.3.6.1.", "a"}, "--signer-eku takes"},
      {{"--signer-eku", "1.3 .6", "a"}, "--signer-eku takes"},
      {{"--chain-includes", sha1 + ",", "a"}, "--chain-includes takes"},
      {{"--quiet", "a"}, nullptr},
      {{"--quiet", "--format", "junit", "a"}, "--quiet shortens"},
      {{"--jobs", "256", "a"}, nullptr},
      {{"--jobs", "0", "a"}, "--jobs takes"},
      {{"--jobs", "257", "a"}, "--jobs takes"},
      {{"--jobs", "-1", "a"}, "--jobs takes"},
      {{"--staging", "p/", "c/", "--require-timestamp"}, nullptr},
      {{"--staging", "p/"}, "--staging needs"},
      {{"--staging", "p/", "c/", "a"}, "--staging checks"},
      {{"--version"}, nullptr},
      {{"--version", "a"}, "--version takes"},
      {{}, "no PATH"},
      {{"--", "--json"}, nullptr},
      {{"--bogus", "a"}, "unknown option"},
      // A value may follow its name after '='.
      {{"--format=sarif", "--jobs=4", "--signer=" + sha1, "a"}, nullptr},
      {{"--staging=p/", "c/"}, nullptr},
      {{"--jobs=", "a"}, "--jobs takes"},
      {{"--signer=" + sha1.substr(1), "a"}, "--signer takes"},
      {{"--json=1", "a"}, "--json takes no value"},
      {{"--help=1"}, "--help takes no value"},
      {{"--bogus=1", "a"}, "unknown option --bogus=1"},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto options = ParseExplainOptions(c.args, &error);
    SCOPED_TRACE(testing::PrintToString(c.args));
    if (c.error == nullptr) {
      EXPECT_TRUE(options.has_value()) << error;
    } else {
      EXPECT_FALSE(options.has_value());
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
  }
  std::string error;
  const auto last = ParseExplainOptions({"--", "--json"}, &error);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->format, ReportFormat::kText);
  EXPECT_EQ(last->paths, std::vector<std::string>{"--json"});
  const auto equals =
      ParseExplainOptions({"--format=sarif", "--jobs=4", "a"}, &error);
  ASSERT_TRUE(equals.has_value());
  EXPECT_EQ(equals->format, ReportFormat::kSarif);
  EXPECT_EQ(equals->jobs, 4u);
  const auto pins = ParseExplainOptions(
      {"--signer", colons, "--signer-eku", "1.3.6.1.4.1.311.97.01,2.25.7", "a"},
      &error);
  ASSERT_TRUE(pins.has_value());
  EXPECT_EQ(pins->policy.signer_ekus,
            (std::vector<std::string>{"1.3.6.1.4.1.311.97.1", "2.25.7"}));
  ASSERT_EQ(pins->policy.signers.size(), 1u);
  EXPECT_EQ(pins->policy.signers[0].size(), 20u);
  EXPECT_EQ(pins->policy.signers[0][0], 0xab);
  EXPECT_EQ(pins->policy.signers[0][19], 0x0c);
}

}  // namespace
}  // namespace sealprobe

#include "explain/formats/format_table.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

namespace sealprobe {
namespace {

// Every format has its row: a renderer, and a name that the list gives and
// --format takes back.
TEST(FormatTableTest, EveryFormatHasARendererAndAName) {
  std::set<ReportFormat> named;
  std::istringstream names(FormatNames());
  for (std::string name; names >> name;) {
    if (name.back() == ',') name.pop_back();
    if (name == "or") continue;
    const auto format = ParseReportFormat(name);
    ASSERT_TRUE(format.has_value()) << name;
    EXPECT_TRUE(named.insert(*format).second) << name;
  }
  for (int i = 0; i <= static_cast<int>(ReportFormat::kSarif); ++i) {
    const auto format = static_cast<ReportFormat>(i);
    EXPECT_EQ(named.count(format), 1u) << i;
    EXPECT_NE(MakeReportRenderer(format, {}), nullptr) << i;
  }
}

}  // namespace
}  // namespace sealprobe

#include "explain/codes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace sealprobe {
namespace {

// Pipelines match on the codes: each is listed for them, once, and none
// stands for two rules.
TEST(CodesTest, EveryCodeIsDocumentedAndDistinct) {
  const char* root = std::getenv("SEALPROBE_SOURCE_DIR");
  std::ifstream doc(std::string(root != nullptr ? root : ".") +
                    "/docs/verifier.md");
  std::stringstream text;
  text << doc.rdbuf();
  ASSERT_FALSE(text.str().empty());
  std::set<std::string> seen;
  for (const std::string& code : AllFailureCodes()) {
    EXPECT_TRUE(seen.insert(code).second) << code;
    EXPECT_NE(text.str().find("`" + code + "`"), std::string::npos) << code;
  }
}

}  // namespace
}  // namespace sealprobe

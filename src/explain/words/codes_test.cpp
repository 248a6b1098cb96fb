#include "explain/words/codes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace sealprobe {
namespace {

// Pipelines match on the codes: each is listed for them, once, and none
// stands for two rules.
TEST(CodesTest, EveryCodeIsDocumentedAndDistinct) {
  const char* root = std::getenv("SEALPROBE_SOURCE_DIR");
  const std::vector<uint8_t> bytes = ReadFileBytes(
      std::string(root != nullptr ? root : ".") + "/docs/verifier.md");
  const std::string doc(bytes.begin(), bytes.end());
  ASSERT_FALSE(doc.empty());
  std::set<std::string> seen;
  for (const std::string& code : AllFailureCodes()) {
    EXPECT_TRUE(seen.insert(code).second) << code;
    EXPECT_NE(doc.find("`" + code + "`"), std::string::npos) << code;
  }
}

}  // namespace
}  // namespace sealprobe

#include "explain/words/codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "explain/words/code_help.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

// Pipelines match on the codes: each is listed for them, once, in a row
// anchored by it (where SARIF's help links), with help for code scanning,
// and none stands for two rules.
TEST(CodesTest, EveryCodeIsDocumentedAndDistinct) {
  const char* root = std::getenv("SEALPROBE_SOURCE_DIR");
  const std::vector<uint8_t> bytes = ReadFileBytes(
      std::string(root != nullptr ? root : ".") + "/docs/verifier.md");
  const std::string doc(bytes.begin(), bytes.end());
  ASSERT_FALSE(doc.empty());
  std::set<std::string> seen;
  for (const std::string& code : AllFailureCodes()) {
    EXPECT_TRUE(seen.insert(code).second) << code;
    EXPECT_NE(doc.find("<a id=\"" + code + "\"></a>`" + code + "`"),
              std::string::npos)
        << code;
    EXPECT_TRUE(HelpFor(code).has_value()) << code;
  }
}

// Every rule, and every fault that decides a chain, has its code, one of
// those listed: a rule or fault added without a row in the table would
// have none.
TEST(CodesTest, EveryRuleAndChainFaultHasAListedCode) {
  const std::vector<std::string>& all = AllFailureCodes();
  const auto listed = [&all](const std::string& code) {
    return std::find(all.begin(), all.end(), code) != all.end();
  };
  for (int r = 0; r < static_cast<int>(Rule::kValid); ++r) {
    Verification v;
    v.rule = static_cast<Rule>(r);
    for (int f = 0; f <= static_cast<int>(ChainFault::kOther); ++f) {
      const auto decided_by = [f] {
        ChainResult chain;
        chain.problems.emplace_back().fault = static_cast<ChainFault>(f);
        chain.deciding_index = 0;
        return chain;
      };
      v.chain = decided_by();
      v.authority_chain = decided_by();
      SCOPED_TRACE(testing::Message() << "rule " << r << ", fault " << f);
      EXPECT_TRUE(listed(RuleCode(v))) << RuleCode(v);
    }
  }
  Verification over_cap;
  over_cap.rule = Rule::kMalformedSignature;
  over_cap.signature.emplace().fault = SignatureFault::kOverCap;
  EXPECT_EQ(RuleCode(over_cap), "signature.over_cap");
}

}  // namespace
}  // namespace sealprobe

#include "explain/words/wording.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "authenticode/signature.h"
#include "authenticode/root_program/trust_list.h"

namespace sealprobe {
namespace {

using Bytes = std::vector<uint8_t>;

// A SEQUENCE of NULLs, `count` elements in all.
Bytes Elements(size_t count) {
  const size_t length = 2 * (count - 1);
  Bytes der = {0x30,
               0x84,
               static_cast<uint8_t>(length >> 24),
               static_cast<uint8_t>(length >> 16),
               static_cast<uint8_t>(length >> 8),
               static_cast<uint8_t>(length)};
  der.resize(der.size() + length, 0);
  for (size_t i = 6; i < der.size(); i += 2) der[i] = 0x05;
  return der;
}

// A number in a sentence is the cap that applied: what is at a reader's
// cap is not said to be over it, and what is one over is said to be over
// that very number.
TEST(WordingTest, ACapIsWordedWithTheNumberItsReaderApplied) {
  const struct {
    const char* name;
    size_t cap;
    std::function<std::string(const Bytes&)> explain;
  } kCases[] = {
      {"a signature", SignatureLimits{}.elements,
       [](const Bytes& der) {
         Verification v;
         v.rule = Rule::kMalformedSignature;
         v.signature = DecodeSignature(der);
         return RuleText(v, nullptr);
       }},
      {"a trust list", TrustListLimits{}.elements,
       [](const Bytes& der) {
         TrustLoadError error;
         error.fault = LoadFault::kTrustList;
         error.cause =
             ReadTrustList(der.data(), der.size(), TrustListKind::kRoots).error;
         return LoadErrorText(error);
       }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string over = "more than " + std::to_string(c.cap) + " elements";
    EXPECT_EQ(c.explain(Elements(c.cap)).find("elements"), std::string::npos);
    const std::string words = c.explain(Elements(c.cap + 1));
    EXPECT_NE(words.find(over), std::string::npos) << words;
  }
}

}  // namespace
}  // namespace sealprobe

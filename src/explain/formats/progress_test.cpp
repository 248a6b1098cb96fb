#include "explain/formats/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sealprobe {
namespace {

// The line by a clock the test moves: drawn only on a terminal and only
// once a run has taken a second, then at most every tenth of one but at
// once after an erase; erased by spaces over it.
TEST(ProgressTest, DrawsOnlyOnATerminalForALongRun) {
  const auto line = [](int done) {
    return "\rsealprobe-explain: " + std::to_string(done) +
           " of 9 files checked";
  };
  const std::string blank = "\r" + std::string(line(1).size() - 1, ' ') + "\r";
  const struct {
    const char* name;
    bool shown;
    std::vector<int> updates;  // milliseconds into the run; -1 erases
    std::string written;
  } kCases[] = {
      {"quick", true, {300, 600, 900, -1}, ""},
      {"not a terminal", false, {1500, 3000, -1}, ""},
      {"long",
       true,
       {500, 1000, 1050, 1200, -1, 1210, -1},
       line(2) + line(4) + blank + line(5) + blank},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::chrono::steady_clock::time_point now;
    std::string written;
    Progress progress(
        c.shown, [&now] { return now; },
        [&written](const std::string& text) { written += text; });
    int done = 0;
    for (const int ms : c.updates) {
      if (ms < 0) {
        progress.Erase();
        continue;
      }
      now = std::chrono::steady_clock::time_point() +
            std::chrono::milliseconds(ms);
      progress.Update(++done, 9);
    }
    EXPECT_EQ(written, c.written);
  }
}

}  // namespace
}  // namespace sealprobe

#include "explain/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace sealprobe {
namespace {

TEST(RunInOrderTest, DeliversInOrderWhateverTheJobsWithinTheWindow) {
  constexpr size_t kCount = 300;
  const struct {
    unsigned jobs;
    size_t window;
    size_t stop_after;  // deliver returns false for this one
    size_t bound;       // results alive at once, at most
  } kCases[] = {
      {1, 0, kCount, 1},   {4, 0, kCount, 16}, {4, 1, kCount, 4},
      {16, 5, kCount, 16}, {4, 6, 10, 6},      {0, 0, 0, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.jobs << " jobs, window " << c.window);
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<size_t> alive{0};
    std::atomic<size_t> most_alive{0};
    std::atomic<size_t> produced{0};
    std::vector<std::string> delivered;
    const size_t count = RunInOrder(
        kCount, c.jobs,
        [&](size_t i) {
          const size_t now = ++alive;
          for (size_t m = most_alive; now > m;) {
            most_alive.compare_exchange_weak(m, now);
          }
          ++produced;
          // Items of unequal cost finish out of order.
          volatile size_t sink = 0;
          for (size_t spin = (i * 7919) % 50000; spin > 0; --spin) {
            sink = sink + spin;
          }
          return std::to_string(i);
        },
        [&](size_t i, std::string text) {
          --alive;
          EXPECT_EQ(std::this_thread::get_id(), caller);
          EXPECT_EQ(text, std::to_string(i));
          delivered.push_back(std::move(text));
          return i != c.stop_after;
        },
        c.window);
    const size_t expected = std::min(kCount, c.stop_after + 1);
    EXPECT_EQ(count, expected);
    ASSERT_EQ(delivered.size(), expected);
    for (size_t i = 0; i < expected; ++i)
      EXPECT_EQ(delivered[i], std::to_string(i));
    EXPECT_LE(most_alive.load(), c.bound);
    // Stopped: nothing started past the window.
    EXPECT_LE(produced.load(), expected + c.bound);
  }
}

}  // namespace
}  // namespace sealprobe

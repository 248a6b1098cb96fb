// Many files at once: work on several threads, results handed on in order.
#ifndef SEALPROBE_EXPLAIN_PARALLEL_H_
#define SEALPROBE_EXPLAIN_PARALLEL_H_

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace sealprobe {

// The jobs to run when none are asked for: one per processor, at least one.
inline unsigned DefaultJobs() {
  return std::max(1u, std::thread::hardware_concurrency());
}

// Calls `produce(i)` for each i below `count`, on up to `jobs` threads of its
// own, and hands each result on to `deliver(i, std::move(result))` on the
// calling thread, in order of i, as soon as it and every result before it
// are there. The calls to `deliver` are the same whatever `jobs` is, as long
// as `produce` gives the same result for the same i. At most `window`
// results (4 per job when 0; never fewer than `jobs`) are being produced,
// waiting or being delivered at any time, so memory does not grow with
// `count`.
// `deliver` returns false to stop: nothing more is started, what is running
// finishes and is dropped. With one job, or when no thread can be started,
// everything runs on the calling thread, one item after another. `produce`
// runs on any thread, beside other calls of itself; neither function may
// throw. Returns how many results were delivered.
template <typename Produce, typename Deliver>
size_t RunInOrder(size_t count, unsigned jobs, Produce produce, Deliver deliver,
                  size_t window = 0) {
  using Result = std::invoke_result_t<Produce&, size_t>;
  const auto one_by_one = [&] {
    for (size_t i = 0; i < count; ++i) {
      if (!deliver(i, produce(i))) return i + 1;
    }
    return count;
  };
  jobs = std::max(1u, jobs);
  if (jobs == 1 || count < 2) return one_by_one();
  window = std::max<size_t>(window == 0 ? size_t{4} * jobs : window, jobs);

  std::mutex mutex;
  std::condition_variable ready;  // the next result to deliver is there
  std::condition_variable room;   // the window has moved, or it is over
  std::vector<std::optional<Result>> slots(window);  // result i at i % window
  size_t started = 0;
  size_t delivered = 0;
  bool stop = false;
  const auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      room.wait(lock, [&] {
        return stop || started == count || started < delivered + window;
      });
      if (stop || started == count) return;
      const size_t i = started++;
      lock.unlock();
      Result result = produce(i);
      lock.lock();
      // Item i - window, the slot's last, was delivered before i started.
      slots[i % window].emplace(std::move(result));
      if (i == delivered) ready.notify_one();
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < jobs; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: the ones started do the work
    }
  }
  if (threads.empty()) return one_by_one();

  bool more = true;
  for (size_t i = 0; i < count && more; ++i) {
    std::optional<Result>& slot = slots[i % window];
    std::unique_lock<std::mutex> lock(mutex);
    ready.wait(lock, [&] { return slot.has_value(); });
    Result result = std::move(*slot);
    slot.reset();
    lock.unlock();
    more = deliver(i, std::move(result));
    // Only now does the window move: what is being delivered counts in it.
    lock.lock();
    delivered = i + 1;
    stop = !more;
    lock.unlock();
    room.notify_all();
  }
  for (std::thread& thread : threads) thread.join();
  return delivered;
}

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_PARALLEL_H_

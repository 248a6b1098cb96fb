#include "explain/formats/progress.h"

#include <utility>

namespace sealprobe {

Progress::Progress(bool shown, Clock clock, Sink sink)
    : shown_(shown), clock_(std::move(clock)), sink_(std::move(sink)) {
  if (shown_) start_ = clock_();
}

void Progress::Update(size_t done, size_t total) {
  if (!shown_) return;
  const std::chrono::steady_clock::time_point now = clock_();
  if (now - start_ < kDelay || (drawn_ != 0 && now - drawn_at_ < kInterval)) {
    return;
  }
  const std::string line = "sealprobe-explain: " + std::to_string(done) +
                           " of " + std::to_string(total) + " files checked";
  // Over the line before, which was never longer.
  sink_("\r" + line);
  drawn_ = line.size();
  drawn_at_ = now;
}

void Progress::Erase() {
  if (drawn_ == 0) return;
  sink_("\r" + std::string(drawn_, ' ') + "\r");
  drawn_ = 0;
}

}  // namespace sealprobe

// How far a long run has got, on one line of standard error, for a person
// watching it on a terminal.
#ifndef SEALPROBE_EXPLAIN_FORMATS_PROGRESS_H_
#define SEALPROBE_EXPLAIN_FORMATS_PROGRESS_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace sealprobe {

class Progress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Sink = std::function<void(const std::string& text)>;

  // How long a run goes unannounced, and how often the line changes.
  static constexpr std::chrono::milliseconds kDelay{1000};
  static constexpr std::chrono::milliseconds kInterval{100};

  // A run that starts now, by `clock`. Unless `shown`, it writes nothing;
  // otherwise it writes to `sink` what a terminal needs to draw the line
  // and erase it (carriage returns and spaces, no escape sequence).
  Progress(bool shown, Clock clock, Sink sink);

  // `done` of `total` files are checked: the line is drawn once the run
  // has taken kDelay, and drawn again at most every kInterval while shown,
  // at once when it was erased.
  void Update(size_t done, size_t total);

  // Erases the line, if it is shown, so that what is written next starts a
  // clean line: before anything else is written to the terminal, and when
  // the run is over.
  void Erase();

 private:
  bool shown_;
  Clock clock_;
  Sink sink_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_at_;
  size_t drawn_ = 0;  // the columns the line on the terminal takes; 0: none
};

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_PROGRESS_H_

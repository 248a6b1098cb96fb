// A moment written the one way the tools write it: UTC, to the second, as
// 2026-04-22T00:33:28Z.
#ifndef SEALPROBE_UTC_TIME_H_
#define SEALPROBE_UTC_TIME_H_

#include <ctime>
#include <optional>
#include <string>

namespace sealprobe {

// `time` so written; nullopt for one the C library cannot break down (far
// outside any year it can write).
std::optional<std::string> UtcText(std::time_t time);

}  // namespace sealprobe

#endif  // SEALPROBE_UTC_TIME_H_

#include <ctime>

#include "utc_time.h"

namespace sealprobe {

std::optional<std::string> UtcText(std::time_t time) {
  std::tm utc{};
  char text[32] = "";
  if (gmtime_r(&time, &utc) == nullptr ||
      std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
    return std::nullopt;
  }
  return text;
}

}  // namespace sealprobe

#include "explain/formats/text_encodings.h"

#include <algorithm>
#include <cstdint>

#include "utf8.h"

namespace sealprobe {

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    if (!step.valid) return false;
    i += step.length;
  }
  return true;
}

std::string ValidUtf8(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    if (step.valid) {
      out.append(text, i, step.length);
    } else {
      out += "\xef\xbf\xbd";
    }
    i += step.length;
  }
  return out;
}

std::string Base64(const std::string& bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = 0;
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    for (size_t k = 0; k < 3; ++k) {
      const uint32_t byte =
          k < n ? static_cast<unsigned char>(bytes[i + k]) : 0;
      group = (group << 8) | byte;
    }
    for (size_t k = 0; k < 4; ++k) {
      out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3f] : '=';
    }
  }
  return out;
}

}  // namespace sealprobe

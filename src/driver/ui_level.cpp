#include "driver/ui_level.h"

#include <limits>

namespace sealprobe {
namespace {

bool IsBlank(NativeChar c) {
  return c == SP_TEXT(' ') || c == SP_TEXT('\t') || c == SP_TEXT('\n') ||
         c == SP_TEXT('\v') || c == SP_TEXT('\f') || c == SP_TEXT('\r');
}

bool IsDigit(NativeChar c) { return c >= SP_TEXT('0') && c <= SP_TEXT('9'); }

}  // namespace

int32_t ParseUiLevel(NativeStringView text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == SP_TEXT('+') || text[i] == SP_TEXT('-'))) {
    negative = text[i] == SP_TEXT('-');
    ++i;
  }
  // Accumulate the magnitude in 64 bits and stop growing it once it is past
  // any 32-bit value, so an arbitrarily long run of digits cannot overflow.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (magnitude <= kLimit)
      magnitude = magnitude * 10 + (text[i] - SP_TEXT('0'));
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

}  // namespace sealprobe

#include "utf8.h"

namespace sealprobe {

Utf8Step NextUtf8(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {1, true, lead};
  size_t follow = 0;
  char32_t code_point = 0;
  unsigned char low = 0x80;  // the range of the second octet
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    follow = 1;
    code_point = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    follow = 2;
    code_point = lead & 0x0fu;
    if (lead == 0xe0) low = 0xa0;   // no overlong forms
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    follow = 3;
    code_point = lead & 0x07u;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;  // nothing past U+10FFFF
  } else {
    return {1, false, 0};
  }
  for (size_t k = 1; k <= follow; ++k) {
    if (at + k >= text.size()) return {k, false, 0};
    const auto octet = static_cast<unsigned char>(text[at + k]);
    if (octet < (k == 1 ? low : 0x80) || octet > (k == 1 ? high : 0xbf)) {
      return {k, false, 0};
    }
    code_point = code_point << 6 | (octet & 0x3fu);
  }
  return {follow + 1, true, code_point};
}

}  // namespace sealprobe

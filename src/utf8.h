// Reading text that should be UTF-8 but may hold any bytes (a file's name,
// what a certificate says of itself): one character, or one stretch that is
// not one, at a time.
#ifndef SEALPROBE_UTF8_H_
#define SEALPROBE_UTF8_H_

#include <cstddef>
#include <string_view>

namespace sealprobe {

struct Utf8Step {
  size_t length = 1;        // octets taken, at least one
  bool valid = false;       // whether they are a character
  char32_t code_point = 0;  // the character, when they are one
};

// The step at text[at], which must be inside `text`: a character as RFC
// 3629 writes it (shortest form, no surrogates, nothing past U+10FFFF), or,
// where there is none, the longest start of one there (at least one
// octet), for a reader to replace as a whole.
Utf8Step NextUtf8(std::string_view text, size_t at);

}  // namespace sealprobe

#endif  // SEALPROBE_UTF8_H_

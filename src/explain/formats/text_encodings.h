// Bytes as text: UTF-8 checked and mended (read by utf8.h), and base64.
// Paths are bytes and certificates say what they like; the formats that
// can carry only UTF-8 (JSON, XML) mend what is not, and JSON gives the
// exact bytes of a path beside it.
#ifndef SEALPROBE_EXPLAIN_FORMATS_TEXT_ENCODINGS_H_
#define SEALPROBE_EXPLAIN_FORMATS_TEXT_ENCODINGS_H_

#include <string>

namespace sealprobe {

// Whether `text` is UTF-8 throughout.
bool IsUtf8(const std::string& text);

// `text` with each stretch that is not UTF-8 (a NextUtf8 step that is not
// valid, utf8.h) written as U+FFFD.
std::string ValidUtf8(const std::string& text);

// `bytes` in base64 (RFC 4648, with padding).
std::string Base64(const std::string& bytes);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_TEXT_ENCODINGS_H_

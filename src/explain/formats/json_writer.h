// Writing JSON: strings in strict UTF-8 (RFC 8259 over RFC 3629), whatever
// the bytes they are made from, and objects and arrays of written values.
#ifndef SEALPROBE_EXPLAIN_FORMATS_JSON_WRITER_H_
#define SEALPROBE_EXPLAIN_FORMATS_JSON_WRITER_H_

#include <string>
#include <utility>
#include <vector>

namespace sealprobe {

// `text` as a JSON string. UTF-8 is kept as it is, but for the control
// characters (C0, DEL and C1), which are escaped (\u001b, \u009b), so that
// a terminal showing the JSON obeys none of them; each stretch that is not
// UTF-8 (the longest start of a character there, at least one octet) is
// written as U+FFFD.
std::string JsonString(const std::string& text);

// JsonString(text), or null for the empty string.
std::string JsonStringOrNull(const std::string& text);

// An object of `members` (a name, and a value already written), in order.
std::string JsonObject(
    const std::vector<std::pair<const char*, std::string>>& members);

// An array of values already written.
std::string JsonArray(const std::vector<std::string>& items);

// Whether `text` is UTF-8 throughout.
bool IsUtf8(const std::string& text);

// `text` with each stretch that is not UTF-8 written as U+FFFD, as
// JsonString does; for the formats that can only carry UTF-8 (XML).
std::string ValidUtf8(const std::string& text);

// `bytes` in base64 (RFC 4648, with padding).
std::string Base64(const std::string& bytes);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JSON_WRITER_H_

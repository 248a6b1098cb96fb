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

// An object's members: each a name, and a value already written.
using JsonMembers = std::vector<std::pair<const char*, std::string>>;

// An object of `members`, in order.
std::string JsonObject(const JsonMembers& members);

// An array of values already written.
std::string JsonArray(const std::vector<std::string>& items);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_FORMATS_JSON_WRITER_H_

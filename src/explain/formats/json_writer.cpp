#include "explain/formats/json_writer.h"

#include <cstdint>
#include <cstdio>

#include "utf8.h"

namespace sealprobe {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    const char32_t code = step.code_point;
    if (!step.valid) {
      out += "\\ufffd";
    } else if (code == '"' || code == '\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (code < 0x20 || (code >= 0x7f && code <= 0x9f)) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x",
                    static_cast<unsigned>(code));
      out += escaped;
    } else {
      out.append(text, i, step.length);
    }
    i += step.length;
  }
  return out + "\"";
}

std::string JsonStringOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

std::string JsonObject(const JsonMembers& members) {
  std::string out = "{";
  for (size_t i = 0; i < members.size(); ++i) {
    if (i > 0) out += ", ";
    out += JsonString(members[i].first) + ": " + members[i].second;
  }
  return out + "}";
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i > 0 ? ", " : "") + items[i];
  }
  return out + "]";
}

}  // namespace sealprobe

#include "explain/json_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace sealprobe {
namespace {

// The UTF-8 character at text[i]: its length and whether it is one (RFC
// 3629: shortest form, no surrogates, nothing past U+10FFFF). When it is
// not, the length is that of the longest start of one there, at least 1,
// which is replaced as a whole.
struct Utf8Step {
  size_t length;
  bool valid;
};

Utf8Step NextUtf8(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {1, true};
  size_t follow = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    follow = 1;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    follow = 2;
    if (lead == 0xe0) low = 0xa0;   // no overlong forms
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    follow = 3;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;  // nothing past U+10FFFF
  } else {
    return {1, false};
  }
  for (size_t k = 1; k <= follow; ++k) {
    if (i + k >= text.size()) return {k, false};
    const auto byte = static_cast<unsigned char>(text[i + k]);
    if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xbf)) {
      return {k, false};
    }
  }
  return {follow + 1, true};
}

// The code point of the valid UTF-8 character of `length` octets at
// text[i], for the controls among them: only one or two octets matter.
uint32_t CodePoint(const std::string& text, size_t i, size_t length) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (length == 1) return lead;
  if (length == 2) {
    return (lead & 0x1fu) << 6 |
           (static_cast<unsigned char>(text[i + 1]) & 0x3fu);
  }
  return 0x800;  // past the controls
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    const uint32_t code = step.valid ? CodePoint(text, i, step.length) : 0;
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

std::string JsonObject(
    const std::vector<std::pair<const char*, std::string>>& members) {
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

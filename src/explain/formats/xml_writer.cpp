#include "explain/formats/xml_writer.h"

#include "explain/formats/text_encodings.h"

namespace sealprobe {

std::string XmlText(const std::string& text) {
  const std::string utf8 = ValidUtf8(text);
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\t':
        out += "&#9;";
        continue;
      case '\n':
        out += "&#10;";
        continue;
      case '\r':
        out += "&#13;";
        continue;
      default:
        break;
    }
    // U+FFFE and U+FFFF, EF BF BE and EF BF BF: valid UTF-8, but no XML.
    const bool noncharacter = c == 0xef && i + 2 < utf8.size() &&
                              static_cast<unsigned char>(utf8[i + 1]) == 0xbf &&
                              static_cast<unsigned char>(utf8[i + 2]) >= 0xbe;
    if (c < 0x20 || noncharacter) {
      out += "\xef\xbf\xbd";
      if (noncharacter) i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace sealprobe

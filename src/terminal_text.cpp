#include "terminal_text.h"

namespace sealprobe {

std::string TerminalSafe(std::string_view text, LineBreaks line_breaks) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool allowed =
        byte == '\t' || (byte == '\n' && line_breaks == LineBreaks::kKeep);
    const bool c1 = byte == 0xc2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9f;
    if (c1) {
      out += '?';
      ++i;
    } else if ((byte < 0x20 && !allowed) || byte == 0x7f) {
      out += '?';
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace sealprobe

#include "notice/terminal_notice.h"

namespace sealprobe {
namespace {

std::string Printable(const std::string& text, bool keep_line_breaks) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    const auto byte = static_cast<unsigned char>(out[i]);
    const bool allowed = byte == '\t' || (keep_line_breaks && byte == '\n');
    if ((byte < 0x20 && !allowed) || byte == 0x7f) out[i] = '?';
    // U+0080 to U+009F in UTF-8: the C1 controls, which some terminals obey.
    const bool c1 = byte == 0xc2 && i + 1 < out.size() &&
                    static_cast<unsigned char>(out[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(out[i + 1]) <= 0x9f;
    if (c1) {
      out[i] = '?';
      out.erase(i + 1, 1);
    }
  }
  return out;
}

}  // namespace

std::string FormatTerminalNotice(const std::string& caption,
                                 const std::string& text) {
  std::string out = "\n";
  out += "== " + Printable(caption, false) + " ==\n";
  out += "[ERROR] " + Printable(text, true) + "\n";
  out += "[ OK ] Press Enter to continue.\n";
  return out;
}

}  // namespace sealprobe

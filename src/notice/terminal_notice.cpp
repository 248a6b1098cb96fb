#include "notice/terminal_notice.h"

namespace sealprobe {
namespace {

std::string Printable(const std::string& text, bool keep_line_breaks) {
  std::string out = text;
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    const bool allowed = byte == '\t' || (keep_line_breaks && byte == '\n');
    if ((byte < 0x20 && !allowed) || byte == 0x7f) c = '?';
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

#include "terminal_text.h"

#include "utf8.h"

namespace sealprobe {
namespace {

// Whether a terminal may obey `c` rather than show it: the C0 and C1
// controls and DEL, and the bidirectional overrides and isolates, which
// reorder what follows them on the line, so that a name can show as
// another.
bool IsTerminalControl(char32_t c) {
  return c < 0x20 || (c >= 0x7f && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string TerminalSafe(std::string_view text, LineBreaks line_breaks) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = NextUtf8(text, i);
    const char32_t c = step.code_point;
    const bool allowed =
        c == '\t' || (c == '\n' && line_breaks == LineBreaks::kKeep);
    // What is not UTF-8 goes too: a lone octet 0x80 to 0x9F is a C1
    // control to a terminal that reads octets (0x9B is CSI), and a
    // terminal that reads UTF-8 could not show the stretch anyway.
    if (step.valid && (allowed || !IsTerminalControl(c))) {
      out.append(text.substr(i, step.length));
    } else {
      out += '?';
    }
    i += step.length;
  }
  return out;
}

}  // namespace sealprobe

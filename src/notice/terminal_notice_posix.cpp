#include "notice/terminal_notice.h"
#include "terminal_text.h"

namespace sealprobe {

std::string FormatTerminalNotice(const std::string& caption,
                                 const std::string& text) {
  std::string out = "\n";
  out += "== " + TerminalSafe(caption) + " ==\n";
  out += "[ERROR] " + TerminalSafe(text, LineBreaks::kKeep) + "\n";
  out += "[ OK ] Press Enter to continue.\n";
  return out;
}

}  // namespace sealprobe

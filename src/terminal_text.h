// Text from outside (arguments, file names, what a certificate says of
// itself) on its way to a terminal, where a control character is a command:
// one rule for every line the tools write for a person.
#ifndef SEALPROBE_TERMINAL_TEXT_H_
#define SEALPROBE_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace sealprobe {

enum class LineBreaks { kReplace, kKeep };

// `text` with each control character shown as '?': the C0 controls but tab
// (and line feed, with LineBreaks::kKeep), DEL, and the C1 controls U+0080
// to U+009F in their UTF-8 form (two octets, one '?'), which some terminals
// obey as ESC sequences (U+009B is CSI). Every other octet passes as it
// is, UTF-8 or not. Linear in the length of `text`.
std::string TerminalSafe(std::string_view text,
                         LineBreaks line_breaks = LineBreaks::kReplace);

}  // namespace sealprobe

#endif  // SEALPROBE_TERMINAL_TEXT_H_

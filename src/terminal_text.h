// Text from outside (arguments, file names, what a certificate says of
// itself) on its way to a terminal, where a control character is a command:
// one rule for every line the tools write for a person.
#ifndef SEALPROBE_TERMINAL_TEXT_H_
#define SEALPROBE_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace sealprobe {

enum class LineBreaks { kReplace, kKeep };

// `text` with each character a terminal may obey rather than show, and
// each stretch that is not UTF-8, shown as one '?': the C0 controls but tab
// (and line feed, with LineBreaks::kKeep), DEL, the C1 controls U+0080 to
// U+009F, which some terminals obey as ESC sequences (U+009B is CSI), and
// the bidirectional overrides and isolates U+202A to U+202E and U+2066 to
// U+2069. A stretch that is not UTF-8 is the longest start of a character
// there, at least one octet (a lone 0x9B, which an 8-bit terminal obeys as
// CSI; a Latin-1 letter). Every other character passes as it is, in any
// script, so the result is UTF-8. Linear in the length of `text`.
std::string TerminalSafe(std::string_view text,
                         LineBreaks line_breaks = LineBreaks::kReplace);

}  // namespace sealprobe

#endif  // SEALPROBE_TERMINAL_TEXT_H_

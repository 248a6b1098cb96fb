// How the error dialog looks on a text terminal, where there is no message
// box: the POSIX build shows this on the controlling terminal.
#ifndef SEALPROBE_NOTICE_TERMINAL_NOTICE_H_
#define SEALPROBE_NOTICE_TERMINAL_NOTICE_H_

#include <string>

namespace sealprobe {

// The caption as a title line, the text marked as an error, and the OK
// prompt. Both are made TerminalSafe (terminal_text.h), so an argument
// cannot drive the terminal; the text keeps its line breaks.
std::string FormatTerminalNotice(const std::string& caption,
                                 const std::string& text);

}  // namespace sealprobe

#endif  // SEALPROBE_NOTICE_TERMINAL_NOTICE_H_

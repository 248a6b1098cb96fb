// How the error dialog looks on a text terminal, where there is no message
// box: the POSIX build shows this on the controlling terminal.
#ifndef SEALPROBE_NOTICE_TERMINAL_NOTICE_H_
#define SEALPROBE_NOTICE_TERMINAL_NOTICE_H_

#include <string>

namespace sealprobe {

// The caption as a title line, the text marked as an error, and the OK
// prompt. Control characters other than tab and line break in the caption
// or text (C1 controls in UTF-8 included) are shown as '?', so an argument
// cannot drive the terminal; other bytes pass as they are.
std::string FormatTerminalNotice(const std::string& caption,
                                 const std::string& text);

}  // namespace sealprobe

#endif  // SEALPROBE_NOTICE_TERMINAL_NOTICE_H_

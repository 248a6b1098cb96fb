// The console the tool itself writes to. Only the entry point makes one; the
// rest of the code sees a Console (console.h).
#ifndef SEALPROBE_DRIVER_STDOUT_CONSOLE_H_
#define SEALPROBE_DRIVER_STDOUT_CONSOLE_H_

#include <memory>

#include "console.h"

namespace sealprobe {

// Standard output. On Windows the runtime's text mode is left as it is, so
// each "\n" reaches a pipe as "\r\n".
std::unique_ptr<Console> MakeStdoutConsole();

}  // namespace sealprobe

#endif  // SEALPROBE_DRIVER_STDOUT_CONSOLE_H_

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "file_descriptor.h"
#include "notice/error_dialog.h"
#include "notice/terminal_notice.h"

namespace sealprobe {
namespace {

// Blocks until the user presses Enter (or the terminal goes away).
void WaitForEnter(int fd) {
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n' || c == '\r') return;
  }
}

class TerminalDialog final : public ErrorDialog {
 public:
  void Show(const NativeString& caption, const NativeString& text) override {
    // The controlling terminal, never standard output or the error stream:
    // an installer that parses the tool's output must not see the notice.
    const FileDescriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty.valid()) return;
    // A run in the background does not own the terminal: reading it would
    // stop the process, and with it the installer that waits for it.
    if (::tcgetpgrp(tty.get()) != ::getpgrp()) return;
    const std::string notice = FormatTerminalNotice(caption, text);
    if (!WriteAll(tty.get(), notice.data(), notice.size())) return;
    WaitForEnter(tty.get());
  }
};

}  // namespace

std::unique_ptr<ErrorDialog> MakePlatformErrorDialog() {
  return std::make_unique<TerminalDialog>();
}

}  // namespace sealprobe

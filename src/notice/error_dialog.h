// The modal error dialog shown when a product file fails verification.
#ifndef SEALPROBE_NOTICE_ERROR_DIALOG_H_
#define SEALPROBE_NOTICE_ERROR_DIALOG_H_

#include <cstdint>
#include <memory>
#include <optional>

#include "native_text.h"

namespace sealprobe {

class ErrorDialog {
 public:
  virtual ~ErrorDialog() = default;
  // Shows `text` under `caption` with an error icon and a single OK button,
  // and returns when the user dismisses it. An empty caption stays empty.
  // A dialog that cannot be shown returns at once; nothing is reported.
  virtual void Show(const NativeString& caption, const NativeString& text) = 0;
};

// Windows: MessageBoxW owned by the active window, shown only when
// DialogCanBeAnswered says so of the process's session and window station.
// POSIX: the notice on the controlling terminal, waiting for Enter; without a
// terminal, or in the background of one, nothing.
std::unique_ptr<ErrorDialog> MakePlatformErrorDialog();

// Whether a Windows message box shown now can be seen and dismissed:
// `session` is the process's session, `station_visible` whether its window
// station has visible display surfaces (WSF_VISIBLE); nullopt where Windows
// could not tell. Not in session 0, where services run and no user logs on
// (a deferred custom action that does not impersonate runs there), and not on
// an invisible station. Whatever is unknown counts against the box: one that
// nobody sees holds the install for ever, while skipping it changes nothing
// on the console or in the exit code.
bool DialogCanBeAnswered(std::optional<uint32_t> session,
                         std::optional<bool> station_visible);

}  // namespace sealprobe

#endif  // SEALPROBE_NOTICE_ERROR_DIALOG_H_

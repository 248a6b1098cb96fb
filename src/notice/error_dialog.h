// The modal error dialog shown when a product file fails verification.
#ifndef SEALPROBE_NOTICE_ERROR_DIALOG_H_
#define SEALPROBE_NOTICE_ERROR_DIALOG_H_

#include <memory>

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

// Windows: MessageBoxW owned by the active window, shown only when the
// process's window station is visible (WSF_VISIBLE): in session 0 nothing.
// POSIX: the notice on the controlling terminal, waiting for Enter; without a
// terminal, or in the background of one, nothing.
std::unique_ptr<ErrorDialog> MakePlatformErrorDialog();

}  // namespace sealprobe

#endif  // SEALPROBE_NOTICE_ERROR_DIALOG_H_

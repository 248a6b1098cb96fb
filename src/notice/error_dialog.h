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
// DialogCanBeAnswered says so of where the process runs at that moment.
// POSIX: the notice on the controlling terminal, waiting for Enter; without a
// terminal, or in the background of one, nothing.
std::unique_ptr<ErrorDialog> MakePlatformErrorDialog();

// What Windows says of where a message box shown now would appear; nullopt
// where it could not tell.
struct DialogSurroundings {
  // The process's session.
  std::optional<uint32_t> session;
  // Whether the process's window station has visible display surfaces
  // (WSF_VISIBLE).
  std::optional<bool> station_visible;
  // Whether whoever started the process asked for its windows to be hidden:
  // STARTF_USESHOWWINDOW with SW_HIDE in its startup information, as NSIS's
  // nsExec and Inno Setup's Exec(..., SW_HIDE, ...) start a program.
  bool started_hidden = false;
  // Whether the calling thread's desktop is the one that receives the user's
  // input; false on another desktop of the station, nullopt when either
  // desktop could not be read.
  std::optional<bool> on_input_desktop;
};

// Whether a Windows message box shown now can be seen and dismissed. Not in
// session 0, where services run and no user logs on (a deferred custom action
// that does not impersonate runs there); not on an invisible station; not when
// the process was started hidden, since the box would be too; and not on a
// desktop other than the input desktop, which nobody looks at. Whatever is
// unknown counts against the box: one that nobody sees holds the install for
// ever, while skipping it changes nothing on the console or in the exit code.
bool DialogCanBeAnswered(const DialogSurroundings& where);

}  // namespace sealprobe

#endif  // SEALPROBE_NOTICE_ERROR_DIALOG_H_

#include <windows.h>

#include "notice/error_dialog.h"

namespace sealprobe {
namespace {

// Whether the process's window station has visible display surfaces: the
// interactive WinSta0 has, the session-0 station of a service (where an
// installer runs a deferred custom action that does not impersonate) has
// not. A station that cannot be asked counts as hidden: a box nobody sees
// would hold the install for ever, while skipping one changes nothing on
// the console or in the exit code.
bool WindowStationIsVisible() {
  const HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags),
                                   nullptr)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

class MessageBoxDialog final : public ErrorDialog {
 public:
  void Show(const NativeString& caption, const NativeString& text) override {
    if (!WindowStationIsVisible()) return;
    // The result is of no interest: whatever the user does, the run fails.
    ::MessageBoxW(::GetActiveWindow(), text.c_str(), caption.c_str(),
                  MB_ICONERROR);
  }
};

}  // namespace

std::unique_ptr<ErrorDialog> MakePlatformErrorDialog() {
  return std::make_unique<MessageBoxDialog>();
}

}  // namespace sealprobe

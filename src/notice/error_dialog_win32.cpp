#include <windows.h>

#include "notice/error_dialog.h"

namespace sealprobe {
namespace {

// The process's session (ProcessIdToSessionId, kernel32); nullopt when
// Windows cannot say.
std::optional<uint32_t> ProcessSession() {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
    return std::nullopt;
  }
  return session;
}

// Whether the process's window station has visible display surfaces: the
// interactive WinSta0 has, a service's station has not; nullopt when the
// station cannot be asked.
std::optional<bool> WindowStationIsVisible() {
  const HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr) return std::nullopt;
  USEROBJECTFLAGS flags{};
  if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags),
                                   nullptr)) {
    return std::nullopt;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

class MessageBoxDialog final : public ErrorDialog {
 public:
  void Show(const NativeString& caption, const NativeString& text) override {
    if (!DialogCanBeAnswered(ProcessSession(), WindowStationIsVisible())) {
      return;
    }
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

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

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

// Whether the starting program asked for the process's windows hidden. The
// first window a program shows takes its state from there, whatever the
// program asks ("ShowWindow": nCmdShow "is ignored the first time an
// application calls ShowWindow, if the program that launched the application
// provides a STARTUPINFO structure"), and the box is the tool's first window.
bool StartedHidden() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  ::GetStartupInfoW(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 &&
         startup.wShowWindow == SW_HIDE;
}

struct DesktopCloser {
  void operator()(HDESK desktop) const { ::CloseDesktop(desktop); }
};
using OwnedDesktop =
    std::unique_ptr<std::remove_pointer_t<HDESK>, DesktopCloser>;

// The desktop's name (UOI_NAME), or nullopt when it cannot be read.
std::optional<std::wstring> DesktopName(HDESK desktop) {
  if (desktop == nullptr) return std::nullopt;
  DWORD size = 0;  // in bytes, the terminating NUL included
  ::GetUserObjectInformationW(desktop, UOI_NAME, nullptr, 0, &size);
  if (size < sizeof(wchar_t)) return std::nullopt;
  std::wstring name(size / sizeof(wchar_t), L'\0');
  if (!::GetUserObjectInformationW(desktop, UOI_NAME, name.data(), size,
                                   &size)) {
    return std::nullopt;
  }
  const size_t end = name.find(L'\0');
  if (end != std::wstring::npos) name.resize(end);
  return name;
}

// Whether this thread's desktop is the one that receives input. A window
// belongs to its thread's desktop, and only the input desktop is on the
// screen: a program started on another desktop of the station (lpDesktop)
// shows its box there, out of sight. The input desktop cannot be opened from
// a station that takes no input (Wine's conformance tests, which run on
// Windows: dlls/user32/tests/winstation.c, test_inputdesktop2), nor where
// access to it is denied; its name then stays unknown.
std::optional<bool> OnInputDesktop() {
  const OwnedDesktop input(::OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS));
  const std::optional<std::wstring> input_name = DesktopName(input.get());
  // The thread's own desktop handle is the system's: it is never closed.
  const std::optional<std::wstring> thread_name =
      DesktopName(::GetThreadDesktop(::GetCurrentThreadId()));
  if (!input_name || !thread_name) return std::nullopt;
  return *input_name == *thread_name;
}

class MessageBoxDialog final : public ErrorDialog {
 public:
  void Show(const NativeString& caption, const NativeString& text) override {
    DialogSurroundings where;
    where.session = ProcessSession();
    where.station_visible = WindowStationIsVisible();
    where.started_hidden = StartedHidden();
    where.on_input_desktop = OnInputDesktop();
    if (!DialogCanBeAnswered(where)) return;
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

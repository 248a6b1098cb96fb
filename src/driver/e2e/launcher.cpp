// Test helper: starts a program with a raw command line, the way Windows
// Installer starts a custom action, and exits with its exit code.
//
//   launcher.exe [--hidden-station | --second-desktop | --hidden] COMMAND_LINE
//
// COMMAND_LINE goes to CreateProcessW exactly as given: `wine prog args`
// re-quotes each argument, so a test cannot hand the tool a raw line any
// other way. It is echoed to standard error as "launching: <line>" (UTF-8),
// so a test can check that it arrived unchanged. The child shares the
// launcher's standard handles.
//
// --hidden-station starts the child on a desktop of a new window station
// created without WSF_VISIBLE, as a service's session-0 station is: a
// message box there cannot be seen or dismissed.
// --second-desktop starts it on a new desktop of the launcher's own station,
// which is not the input desktop: a box there is out of sight.
// --hidden starts it with STARTF_USESHOWWINDOW and SW_HIDE, as NSIS's nsExec
// and Inno Setup's Exec(..., SW_HIDE, ...) do.
//
// Exit codes of its own: 120 bad usage, 121 no window station or desktop,
// 122 the program did not start.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kUsage = 120;
constexpr int kNoStation = 121;
constexpr int kNotStarted = 122;

struct Handle {
  explicit Handle(HANDLE h) : handle(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle != nullptr) ::CloseHandle(handle);
  }
  HANDLE handle;
};

void WriteUtf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                        bytes.data(), size, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

// The window station and desktop made for the child, closed when the
// launcher is done with it.
struct ChildDesktop {
  ChildDesktop() = default;
  ChildDesktop(const ChildDesktop&) = delete;
  ChildDesktop& operator=(const ChildDesktop&) = delete;
  ~ChildDesktop() {
    if (desktop != nullptr) ::CloseDesktop(desktop);
    if (station != nullptr) ::CloseWindowStation(station);
  }
  HWINSTA station = nullptr;
  HDESK desktop = nullptr;
  std::wstring name;  // "station\desktop", for STARTUPINFOW::lpDesktop
};

// Creates window station `station` (not visible: CreateWindowStationW never
// sets WSF_VISIBLE) with a desktop "Default".
bool MakeHiddenDesktop(const wchar_t* station, ChildDesktop* made) {
  const HWINSTA original = ::GetProcessWindowStation();
  made->station =
      ::CreateWindowStationW(station, 0, WINSTA_ALL_ACCESS, nullptr);
  if (made->station == nullptr || !::SetProcessWindowStation(made->station)) {
    return false;
  }
  made->desktop =
      ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ::SetProcessWindowStation(original);
  made->name = std::wstring(station) + L"\\Default";
  return made->desktop != nullptr;
}

// Creates desktop `desktop` on the launcher's own station, WinSta0.
bool MakeSecondDesktop(const wchar_t* desktop, ChildDesktop* made) {
  made->desktop =
      ::CreateDesktopW(desktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  made->name = std::wstring(L"WinSta0\\") + desktop;
  return made->desktop != nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc == 3 ? argv[1] : L"";
  if ((argc != 2 && argc != 3) ||
      (argc == 3 && mode != L"--hidden-station" &&
       mode != L"--second-desktop" && mode != L"--hidden")) {
    std::fputs(
        "usage: launcher [--hidden-station | --second-desktop | --hidden] "
        "COMMAND_LINE\n",
        stderr);
    return kUsage;
  }
  std::wstring command_line = argv[argc - 1];
  WriteUtf8(L"launching: " + command_line + L"\n");

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  ChildDesktop desktop;
  const bool made = mode == L"--hidden-station"
                        ? MakeHiddenDesktop(L"SealProbeHidden", &desktop)
                    : mode == L"--second-desktop"
                        ? MakeSecondDesktop(L"SealProbeSecond", &desktop)
                        : true;
  if (!made) {
    std::fprintf(stderr, "no window station or desktop: %lu\n",
                 ::GetLastError());
    return kNoStation;
  }
  if (!desktop.name.empty()) startup.lpDesktop = desktop.name.data();
  if (mode == L"--hidden") {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }

  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "CreateProcessW failed: %lu\n", ::GetLastError());
    return kNotStarted;
  }
  const Handle child(process.hProcess);
  const Handle thread(process.hThread);
  ::WaitForSingleObject(child.handle, INFINITE);
  DWORD code = kNotStarted;
  ::GetExitCodeProcess(child.handle, &code);
  return static_cast<int>(code);
}

// Test helper: starts a program with a raw command line, the way Windows
// Installer starts a custom action, and exits with its exit code.
//
//   launcher.exe [--hidden-station] COMMAND_LINE
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

// Creates window station `station` (not visible: CreateWindowStationW never
// sets WSF_VISIBLE) with a desktop "Default"; returns "station\Default".
// The handles stay open until the launcher exits, keeping both alive.
bool MakeHiddenDesktop(const wchar_t* station, std::wstring* desktop) {
  const HWINSTA original = ::GetProcessWindowStation();
  const HWINSTA hidden =
      ::CreateWindowStationW(station, 0, WINSTA_ALL_ACCESS, nullptr);
  if (hidden == nullptr || !::SetProcessWindowStation(hidden)) return false;
  const HDESK made =
      ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ::SetProcessWindowStation(original);
  if (made == nullptr) return false;
  *desktop = std::wstring(station) + L"\\Default";
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool hidden = argc == 3 && std::wstring(argv[1]) == L"--hidden-station";
  if (argc != 2 && !hidden) {
    std::fputs("usage: launcher [--hidden-station] COMMAND_LINE\n", stderr);
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
  std::wstring desktop;
  if (hidden) {
    if (!MakeHiddenDesktop(L"SealProbeHidden", &desktop)) {
      std::fprintf(stderr, "no hidden window station: %lu\n", ::GetLastError());
      return kNoStation;
    }
    startup.lpDesktop = desktop.data();
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

/* Test fixture: a DLL planted under a system DLL's name (wintrust, crypt32,
 * msisip, uxtheme) beside the tool or in its working folder. Loading it
 * leaves a marker file beside it, "<its path>.loaded". Built with
 * PLANT_WIN_VERIFY_TRUST, it also exports a WinVerifyTrust that calls every
 * file valid, which is what a planted wintrust.dll would do. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    WCHAR marker[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcatW(marker, L".loaded");
      const HANDLE file =
          CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, NULL);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}

#ifdef PLANT_WIN_VERIFY_TRUST
__declspec(dllexport) LONG WINAPI
    WinVerifyTrust(HWND window, GUID* action, LPVOID data) {
  (void)window;
  (void)action;
  (void)data;
  return 0;
}
#endif

/* Test fixture: the control case for the planted-DLL and hidden-window-
 * station tests, a program without the tool's defences. It binds
 * WinVerifyTrust at load time (a static import of wintrust.dll, as the tool
 * used to) and imports crypt32.dll; loads msisip.dll by bare name, as crypt32
 * loads the signature-format DLL it has registered; and shows a message box
 * on whatever window station it runs on, which loads uxtheme.dll by name. A
 * planted copy of each must load beside it, and its message box must hold a
 * hidden station, or the tests of the tool could not fail.
 *
 *   undefended_control.exe FILE
 *
 * Verifies FILE as the tool does, prints "status=0x........", shows the
 * box, and exits 0 when WinVerifyTrust called FILE valid, 1 otherwise. */
#include <windows.h>
/* The trust headers rely on windows.h's types. */
#include <softpub.h>
#include <stdio.h>
#include <wincrypt.h>
#include <wintrust.h>

int wmain(int argc, wchar_t** argv) {
  WINTRUST_FILE_INFO file = {.cbStruct = sizeof(file)};
  WINTRUST_DATA data = {.cbStruct = sizeof(data),
                        .dwUIChoice = WTD_UI_NONE,
                        .fdwRevocationChecks = WTD_REVOKE_NONE,
                        .dwUnionChoice = WTD_CHOICE_FILE,
                        .pFile = &file,
                        .dwStateAction = WTD_STATEACTION_IGNORE};
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG status;

  if (argc != 2) return 2;
  /* Never true: only there to import crypt32.dll directly. */
  if (argv[1] == NULL) CertCloseStore(NULL, 0);
  LoadLibraryW(L"msisip.dll");

  file.pcwszFilePath = argv[1];
  status = WinVerifyTrust(NULL, &action, &data);
  printf("status=0x%08lx\n", (unsigned long)status);
  fflush(stdout);
  MessageBoxW(NULL, L"The control case.", L"Undefended control", MB_ICONERROR);
  return status == 0 ? 0 : 1;
}

#include <windows.h>

#include "driver/run.h"

int wmain(int argc, wchar_t** argv) {
  // Before anything loads a DLL: every DLL the process loads by name from now
  // on (the trust service's signature-format DLLs, the dialog's theme DLL)
  // comes from System32, never from the folder the tool sits in or runs in,
  // which for an installer is often a download or temporary folder. The only
  // documented failure is a bad flag; where the function is missing (Windows
  // 7 without KB2533623) the tool does not start at all.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // No system message box may wait for a user who is not there: neither the
  // critical-error box (a folder on a removable drive without a disk) nor
  // the one OpenFile shows for a missing file, whichever code in the process
  // calls it. Flags the installer set stay set.
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS |
                 SEM_NOOPENFILEERRORBOX);
  return sealprobe::RunSealProbeOnThisPlatform({argv, argv + argc});
}

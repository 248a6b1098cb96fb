// One run of the tool, from the argument vector to the exit code.
#ifndef SEALPROBE_DRIVER_RUN_H_
#define SEALPROBE_DRIVER_RUN_H_

#include <vector>

#include "driver/console.h"
#include "native_text.h"
#include "notice/error_dialog.h"
#include "product_files/file_opener.h"
#include "trust/trust_service.h"

namespace sealprobe {

enum class ExitCode : int {
  kAllValid = 0,    // every present file verified; missing ones skipped
  kFileFailed = 1,  // a present file failed; the walk stopped there
  kUsage = 100,     // not exactly five arguments
};

// What a run needs from the platform. Not owned.
struct Platform {
  FileOpener& files;
  TrustService& trust;
  ErrorDialog& dialog;
  Console& console;
};

// `args` is the whole argument vector, element 0 the program's name (unused).
// Writes the usage text and returns kUsage unless there are exactly five
// arguments after it: product folder, CommonFiles folder, product name,
// localized error message, UI level. Otherwise walks the manifest, locating
// and verifying each entry, and stops at the first file that fails, showing
// the error dialog first when the UI level is above 3.
ExitCode RunSealProbe(const std::vector<NativeString>& args,
                      Platform& platform);

// RunSealProbe on this platform's console, files, trust service and dialog:
// what the entry point runs.
int RunSealProbeOnThisPlatform(const std::vector<NativeString>& args);

}  // namespace sealprobe

#endif  // SEALPROBE_DRIVER_RUN_H_

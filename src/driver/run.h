// One run of the tool, from the argument vector to the exit code.
#ifndef SEALPROBE_DRIVER_RUN_H_
#define SEALPROBE_DRIVER_RUN_H_

#include <optional>
#include <vector>

#include "console.h"
#include "native_text.h"
#include "notice/error_dialog.h"
#include "product_files/file_opener.h"
#include "trust/trust_service.h"

namespace sealprobe {

enum class ExitCode : int {
  kAllValid = 0,    // every present file verified; missing ones skipped
  kFileFailed = 1,  // a present file failed; the walk stopped there
  kUsage = 100,     // not exactly five arguments (see ChooseArguments)
};

// What a run needs from the platform. Not owned.
struct Platform {
  FileOpener& files;
  TrustService& trust;
  ErrorDialog& dialog;
  Console& console;
};

// `runtime_args` is the whole argument vector as the C runtime split it,
// element 0 the program's name (unused); `command_line` the raw command line it
// was split from, where the platform keeps one (driver/command_line.h). Writes
// the usage text and returns kUsage unless ChooseArguments finds exactly five
// arguments: product folder, CommonFiles folder, product name, localized
// error message, UI level. Otherwise walks the manifest, locating and
// verifying each entry, and stops at the first file that fails, showing the
// error dialog first when the UI level is above 3.
ExitCode RunSealProbe(
    const std::vector<NativeString>& runtime_args, Platform& platform,
    const std::optional<NativeString>& command_line = std::nullopt);

// RunSealProbe on this platform's console, files, trust service and dialog:
// what the entry point runs.
int RunSealProbeOnThisPlatform(const std::vector<NativeString>& args);

}  // namespace sealprobe

#endif  // SEALPROBE_DRIVER_RUN_H_

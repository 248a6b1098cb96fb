#include "driver/command_line.h"
#include "driver/run.h"
#include "driver/stdout_console.h"
#include "notice/error_dialog.h"
#include "product_files/file_opener.h"
#include "trust/trust_service.h"

namespace sealprobe {

int RunSealProbeOnThisPlatform(const std::vector<NativeString>& args) {
  const std::unique_ptr<Console> console = MakeStdoutConsole();
  const std::unique_ptr<FileOpener> files = MakePlatformFileOpener();
  const std::unique_ptr<TrustService> trust = MakePlatformTrustService();
  const std::unique_ptr<ErrorDialog> dialog = MakePlatformErrorDialog();
  Platform platform{*files, *trust, *dialog, *console};
  return static_cast<int>(RunSealProbe(args, platform, ProcessCommandLine()));
}

}  // namespace sealprobe

#include "driver/run.h"

#include "driver/command_line.h"
#include "driver/ui_level.h"
#include "notice/failure_notice.h"
#include "product_files/locate.h"
#include "product_files/manifest.h"
#include "trust/verdict.h"

namespace sealprobe {
namespace {

constexpr int32_t kHighestSilentUiLevel = 3;

void WriteUsage(Console& console) {
  static constexpr NativeStringView kUsage[] = {
      SP_TEXT("\n"),
      SP_TEXT("ERROR: Invalid argument.\n"),
      SP_TEXT("\n"),
      SP_TEXT("Synopsis:\n"),
      SP_TEXT("    SealProbe <Product Path> <CommonFiles Path> <ProductName> "
              "<Localized Error Message> UILevel\n"),
      SP_TEXT("\n"),
      SP_TEXT("    Returns 0 if the file has a valid digital signature.\n"),
      SP_TEXT("    Returns a value >0 otherwise.\n"),
  };
  for (NativeStringView line : kUsage) console.Write(line);
}

}  // namespace

ExitCode RunSealProbe(const std::vector<NativeString>& runtime_args,
                      Platform& platform,
                      const std::optional<NativeString>& command_line) {
  const std::optional<std::vector<NativeString>> chosen =
      ChooseArguments(runtime_args, command_line);
  if (!chosen) {
    WriteUsage(platform.console);
    return ExitCode::kUsage;
  }
  const std::vector<NativeString>& args = *chosen;
  const NativeString& product_path = args[1];
  const NativeString& common_files_path = args[2];
  const NativeString& product_name = args[3];
  const FailureNotice notice = PrepareFailureNotice(args[4]);
  const int32_t ui_level = ParseUiLevel(args[5]);

  for (NativeStringView name : kProductFileManifest) {
    std::optional<LocatedFile> found =
        LocateProductFile(name, common_files_path, product_path, platform.files,
                          platform.console);
    if (!found) continue;
    if (VerifyFileSignature(found->path, platform.trust, platform.console)) {
      platform.console.Write(SP_TEXT("SealProbe: SUCCEEDED.\n"));
      continue;
    }
    if (ui_level > kHighestSilentUiLevel) {
      platform.dialog.Show(product_name, DialogText(notice, name));
    }
    platform.console.Write(SP_TEXT("SealProbe: FAILED.\n"));
    return ExitCode::kFileFailed;
  }
  return ExitCode::kAllValid;
}

}  // namespace sealprobe

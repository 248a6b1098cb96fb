// Fuzzes what the tool makes of its command line: the argument count, the
// UI-level text and the split of the localized message, through a whole run
// against fakes, and the same bytes as a raw Windows command line split again
// as installers quote. Input: arguments separated by NUL bytes; the last byte
// picks which product files exist and which of them fail.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/run.h"
#include "driver/ui_level.h"
#include "notice/failure_notice.h"
#include "product_files/manifest.h"
#include "testing/fake_platform.h"
#include "trust_status.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sealprobe;
  if (size == 0) return 0;
  const uint8_t choice = data[size - 1];
  std::vector<NativeString> args(1, "SealProbe");
  args.emplace_back();
  for (size_t i = 0; i + 1 < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }

  for (size_t i = 1; i < args.size(); ++i) {
    const int32_t level = ParseUiLevel(args[i]);
    (void)level;
    const FailureNotice notice = PrepareFailureNotice(args[i]);
    if (notice.has_placeholder) {
      Check(notice.prefix + "{FileName}" + notice.suffix == args[i]);
      Check(notice.prefix.find("{FileName}") == NativeString::npos);
    } else {
      Check(notice.prefix == args[i] && notice.suffix.empty());
    }
    Check(DialogText(notice, "tv-Strings.dll").find("tv-Strings.dll") !=
          NativeString::npos);
  }

  fakes::FakePlatform fake;
  if (args.size() == 6) {
    // Present in one folder or the other, by the bits of `choice`.
    size_t bit = 0;
    for (NativeStringView name : kProductFileManifest) {
      const NativeString& folder =
          (choice >> (bit++ % 8)) & 1 ? args[1] : args[2];
      fake.files.present.insert(folder + NativeString(name));
    }
    if (choice & 0x80) {
      fake.trust.results[args[2] +
                         NativeString(kProductFileManifest[choice % 34])] = {
          status::kTrustBadDigest, status::kTrustBadDigest};
    }
  }
  const ExitCode code = RunSealProbe(args, fake.platform);
  if (args.size() != 6) {
    Check(code == ExitCode::kUsage);
  } else {
    const bool failed = code == ExitCode::kFileFailed;
    Check(failed || code == ExitCode::kAllValid);
    const NativeString& out = fake.console.output;
    Check(failed ==
          (out.size() >= 19 &&
           out.compare(out.size() - 19, 19, "SealProbe: FAILED.\n") == 0));
    const bool dialog_shown =
        !fake.log.empty() && std::any_of(fake.log.begin(), fake.log.end(),
                                         [](const NativeString& e) {
                                           return e.rfind("dialog ", 0) == 0;
                                         });
    Check(dialog_shown == (failed && ParseUiLevel(args[5]) > 3));
  }

  // The input as a raw command line beside the runtime's split: whatever the
  // run makes of it, it never looks in a folder holding a quote.
  std::string line(reinterpret_cast<const char*>(data), size - 1);
  std::replace(line.begin(), line.end(), '\0', ' ');
  Check(!SplitAsInstallersQuote(line).empty());
  fakes::FakePlatform raw;
  if (RunSealProbe(args, raw.platform, line) != ExitCode::kUsage) {
    for (const NativeString& event : raw.log) {
      if (event.rfind("miss ", 0) == 0) {
        Check(event.find('"') == NativeString::npos);
      }
    }
  }
  return 0;
}

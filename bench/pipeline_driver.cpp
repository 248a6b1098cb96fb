// pipeline_driver [--jobs N] [--anchors PEM | --windows-trust DIR] [--list]
//                 PATH...
// For bench/pipeline_bench.sh: what sealprobe-explain --jobs N is to do
// over many files, without its report. Collects the files as
// sealprobe-explain will (folders walked for programs), verifies each with
// its explanation on N threads (default: one per processor), and writes
// "<status> <path>" a line per file, in order, each as soon as it and the
// ones before it are decided. --list writes the files only. Exit status: 0
// every file valid, 1 one is not, 2 usage or trust that does not load, 3 a
// folder or file that could not be read.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "authenticode/authenticode.h"
#include "authenticode/trust_anchors.h"
#include "explain/inputs.h"
#include "explain/parallel.h"

namespace {

int Usage(const char* problem) {
  std::fprintf(stderr,
               "pipeline_driver: %s\nusage: pipeline_driver [--jobs N] "
               "[--anchors PEM | --windows-trust DIR] [--list] PATH...\n",
               problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using sealprobe::TrustAnchors;
  unsigned jobs = sealprobe::DefaultJobs();
  bool list = false;
  std::string anchors_file;
  std::string windows_folder;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--jobs" && i + 1 < argc) {
      jobs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
      if (jobs == 0) return Usage("--jobs needs a number above 0");
    } else if (arg == "--anchors" && i + 1 < argc) {
      anchors_file = argv[++i];
    } else if (arg == "--windows-trust" && i + 1 < argc) {
      windows_folder = argv[++i];
    } else if (arg == "--list") {
      list = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return Usage("no PATH given");

  const sealprobe::Inputs inputs =
      sealprobe::CollectInputs(paths, *sealprobe::MakePlatformFileTree());
  for (const sealprobe::InputProblem& problem : inputs.problems) {
    std::fprintf(stderr, "pipeline_driver: %s: %s\n", problem.path.c_str(),
                 problem.reason.c_str());
  }
  if (list) {
    for (const std::string& file : inputs.files) std::puts(file.c_str());
    return inputs.problems.empty() ? 0 : 3;
  }
  TrustAnchors anchors =
      !windows_folder.empty() ? TrustAnchors::WindowsRootProgram(windows_folder)
      : !anchors_file.empty() ? TrustAnchors::SystemDefaultAnd(anchors_file)
                              : TrustAnchors::SystemDefault();
  // Loaded before the workers start, so that a folder that does not load
  // is said once.
  anchors.Get();
  if (const auto& failed = anchors.load_error()) {
    std::fprintf(stderr, "pipeline_driver: %s: %s\n", failed->file.c_str(),
                 failed->reason.c_str());
    return 2;
  }
  bool all_valid = true;
  sealprobe::RunInOrder(
      inputs.files.size(), jobs,
      [&](size_t i) {
        sealprobe::Explanation explanation;
        return sealprobe::VerifyAuthenticodeFile(inputs.files[i], anchors,
                                                 &explanation)
            .status;
      },
      [&](size_t i, uint32_t status) {
        all_valid = all_valid && status == 0;
        std::printf("%08x %s\n", static_cast<unsigned>(status),
                    inputs.files[i].c_str());
        return std::fflush(stdout) == 0;
      });
  if (!inputs.problems.empty()) return 3;
  return all_valid ? 0 : 1;
}

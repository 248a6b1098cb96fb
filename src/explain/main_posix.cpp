// sealprobe-explain [--json] [--anchors PEM | --windows-trust DIR] FILE...:
// why sealprobe gives each file the status it gives.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "authenticode/trust_anchors.h"
#include "explain/human_report.h"
#include "explain/json_report.h"
#include "explain/report.h"
#include "explain/wording.h"
#include "terminal_text.h"

namespace {

constexpr char kUsage[] =
    "usage: sealprobe-explain [--json] [--anchors PEM | --windows-trust DIR]\n"
    "                         FILE...\n"
    "\n"
    "For each FILE, the status sealprobe gives it, in Windows' terms, the\n"
    "rule that decided it, and the evidence: the image, the signer, the\n"
    "chain, the timestamp and the time the chain was checked at.\n"
    "\n"
    "  --json         one JSON array for the whole run\n"
    "  --anchors PEM  trust the certificates in PEM besides the default\n"
    "                 store (SSL_CERT_FILE, SSL_CERT_DIR)\n"
    "  --windows-trust DIR\n"
    "                 trust Windows' root program as exported to DIR\n"
    "                 (certutil -syncWithWU DIR) instead; by default the\n"
    "                 folder SEALPROBE_WINDOWS_TRUST names, as sealprobe\n"
    "\n"
    "Exit status: 0 when every file is valid, 1 when one is not, 2 for a\n"
    "usage error or a Windows trust folder that does not load.\n";

// `problem` may quote an argument: it reaches the terminal TerminalSafe.
int Usage(const std::string& problem) {
  std::fprintf(stderr, "sealprobe-explain: %s\n%s",
               sealprobe::TerminalSafe(problem).c_str(), kUsage);
  return 2;
}

// Colour only on a terminal, and not when NO_COLOR is set (no-color.org).
bool UseColour() {
  const char* no_color = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 &&
         (no_color == nullptr || no_color[0] == '\0');
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string anchors_file;
  std::string windows_folder;
  std::vector<std::string> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--json") {
      json = true;
    } else if (options && arg == "--anchors") {
      if (++i == argc) return Usage("--anchors needs a PEM file");
      anchors_file = argv[i];
      if (!std::ifstream(anchors_file)) {
        return Usage("cannot read " + anchors_file);
      }
    } else if (options && arg == "--windows-trust") {
      if (++i == argc) return Usage("--windows-trust needs a folder");
      windows_folder = argv[i];
    } else if (options && arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return Usage("no FILE given");

  using sealprobe::LoadErrorText;
  using sealprobe::TrustAnchors;
  if (windows_folder.empty()) {
    const char* from_environment = std::getenv("SEALPROBE_WINDOWS_TRUST");
    if (from_environment != nullptr) windows_folder = from_environment;
  }
  if (!anchors_file.empty() && !windows_folder.empty()) {
    return Usage(
        "--anchors adds to OpenSSL's store, which Windows' root program "
        "(--windows-trust, SEALPROBE_WINDOWS_TRUST) replaces: give one");
  }
  TrustAnchors anchors =
      !windows_folder.empty() ? TrustAnchors::WindowsRootProgram(windows_folder)
      : !anchors_file.empty() ? TrustAnchors::SystemDefaultAnd(anchors_file)
                              : TrustAnchors::SystemDefault();
  // Trust data that does not load is reported before any file, and
  // nothing is explained against a store sealprobe would not use.
  if (anchors.source() == TrustAnchors::Source::kWindowsRootProgram) {
    anchors.Get();
    if (const auto& failed = anchors.load_error()) {
      const std::string line = failed->file + ": " + LoadErrorText(*failed);
      std::fprintf(stderr, "sealprobe-explain: %s\n",
                   sealprobe::TerminalSafe(line).c_str());
      return 2;
    }
  }
  std::vector<sealprobe::FileReport> reports;
  bool all_valid = true;
  const bool colour = !json && UseColour();
  for (size_t i = 0; i < files.size(); ++i) {
    sealprobe::FileReport report = sealprobe::ExplainFile(files[i], anchors);
    all_valid = all_valid && report.valid();
    if (json) {
      reports.push_back(std::move(report));
    } else {
      // A person's report is written as it is made.
      if (i > 0) std::fputs("\n", stdout);
      std::fputs(sealprobe::HumanReport(report, colour).c_str(), stdout);
    }
  }
  if (json) std::fputs(sealprobe::JsonReport(reports).c_str(), stdout);
  return all_valid ? 0 : 1;
}

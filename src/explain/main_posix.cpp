// sealprobe-explain [OPTION]... PATH... | --staging PRODUCT_DIR
// COMMONFILES_DIR: why sealprobe gives each file the status it gives, and
// whether a release meets its own rules besides.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "explain/decide/file_record.h"
#include "explain/decide/inputs.h"
#include "explain/decide/staging.h"
#include "explain/decide/trust_choice.h"
#include "explain/formats/format_table.h"
#include "explain/formats/line_wrap.h"
#include "explain/formats/progress.h"
#include "explain/options.h"
#include "explain/parallel.h"
#include "explain/words/wording.h"
#include "product_files/file_opener.h"
#include "terminal_text.h"

namespace {

using sealprobe::TerminalSafe;

constexpr char kVersion[] = SEALPROBE_VERSION;
// Where the guides are published, which SARIF's rules point into.
constexpr char kDocsUrl[] = SEALPROBE_DOCS_URL;

constexpr char kUsageHead[] =
    "usage: sealprobe-explain [OPTION]... PATH...\n"
    "       sealprobe-explain [OPTION]... --staging PRODUCT_DIR "
    "COMMONFILES_DIR\n"
    "\n"
    "For each file, the status sealprobe gives it, in Windows' terms, the\n"
    "rule that decided it, and the evidence: the image, the signer, the\n"
    "chain, the timestamp, the time the chain was checked at, and the\n"
    "file's other signatures. A folder PATH stands for every PE image and\n"
    "Windows Installer package under it, told by content, in byte order of\n"
    "the paths; a file of another kind Windows signs (a cabinet, a catalog,\n"
    "a signed script, an MSIX package, another compound file) is listed and\n"
    "fails, as it cannot be verified here, and the rest are counted. "
    "--staging\n"
    "checks the product's files as sealprobe finds them in the two folders,\n"
    "fails one found in neither, and checks the folders' other files too.\n"
    "\n";

constexpr char kUsageOptions[] =
    "  --quiet            (text) report only the files that fail, then the\n"
    "                     line that sums up\n"
    "  --signer HASH      fail a file whose signer's certificate does not\n"
    "                     have this SHA-256 or SHA-1 (hexadecimal, over its\n"
    "                     DER)\n"
    "  --signer-eku OID   fail a file whose signer's certificate does not\n"
    "                     name this extended key usage\n"
    "  --chain-includes HASH\n"
    "                     fail a file whose chain has no certificate above\n"
    "                     the signer's (an intermediate or the root) with\n"
    "                     this SHA-256 or SHA-1\n"
    "                     (these three: repeat one, or separate its values\n"
    "                     by commas, to allow any of them; every one given\n"
    "                     must hold)\n"
    "  --require-timestamp\n"
    "                     fail a file whose signature has no valid timestamp\n"
    "  --all-signatures   hold every signature of a file (nested ones, later\n"
    "                     certificate-table entries) to these rules, not only\n"
    "                     the primary, which Windows decides by\n"
    "  --allow-unsupported\n"
    "                     pass a file of a kind Windows signs that cannot be\n"
    "                     verified here, listed as not checked\n"
    "  --jobs N           verify on N threads (default: one per processor);\n"
    "                     the output is the same for any N, but for JUnit's\n"
    "                     times\n"
    "  --anchors PEM      trust the certificates in PEM besides the default\n"
    "                     store (SSL_CERT_FILE, SSL_CERT_DIR)\n"
    "  --windows-trust DIR\n"
    "                     trust Windows' root program as exported to DIR\n"
    "                     (certutil -syncWithWU DIR) instead; by default the\n"
    "                     folder SEALPROBE_WINDOWS_TRUST names, as sealprobe\n"
    "  --version, --help\n"
    "\n"
    "Exit status: 0 when every file is valid and meets the rules; 1 when one\n"
    "is not or does not, or a staged file is missing; 2 for a usage error,\n"
    "trust data that does not load, a folder with nothing to check, or a\n"
    "report that cannot be written; 3 when a file or folder cannot be read.\n"
    "The highest of these wins.\n";

// The --format entry, its formats from the format table.
std::string FormatEntry() {
  sealprobe::LineWrap entry(72);
  entry.Add("  --format FORMAT    ",
            sealprobe::FormatUsage() + "; --json is --format json",
            std::string(21, ' '));
  return entry.str();
}

std::string UsageText() { return kUsageHead + FormatEntry() + kUsageOptions; }

enum Exit { kValid = 0, kNotValid = 1, kUsage = 2, kUnreadable = 3 };

// `problem` may quote an argument: it reaches the terminal TerminalSafe.
int Usage(const std::string& problem) {
  std::fprintf(stderr, "sealprobe-explain: %s\n%s",
               TerminalSafe(problem).c_str(), UsageText().c_str());
  return kUsage;
}

void Complain(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "sealprobe-explain: %s: %s\n",
               TerminalSafe(path).c_str(), TerminalSafe(reason).c_str());
}

// Colour only on a terminal, and not when NO_COLOR is set (no-color.org).
bool UseColour() {
  const char* no_color = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 &&
         (no_color == nullptr || no_color[0] == '\0');
}

// Standard output, every write checked: the first failure is kept, and
// nothing is written after it.
class Output {
 public:
  bool Write(const std::string& text) {
    if (failed_ == 0 && !text.empty() &&
        (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
         std::fflush(stdout) != 0)) {
      failed_ = errno != 0 ? errno : EIO;
    }
    return failed_ == 0;
  }
  int failed() const { return failed_; }

 private:
  int failed_ = 0;
};

// Why the file at `path`, which did not open or read, could not: the
// system's words.
std::string WhyUnreadable(const std::string& path, sealprobe::FileTree& tree) {
  std::string reason;
  switch (tree.KindOf(path, &reason)) {
    case sealprobe::FileTree::Kind::kMissing:
      return reason;
    case sealprobe::FileTree::Kind::kFolder:
    case sealprobe::FileTree::Kind::kOther:
      return "not a regular file";
    case sealprobe::FileTree::Kind::kRegularFile:
      break;
  }
  if (!tree.Open(path, &reason) && !reason.empty()) return reason;
  return "it could not be read";
}

// Stops the run for a problem of the trust asked for: the command line's
// as a usage error, a file's or folder's with its path; the exit status.
int StopForTrust(const sealprobe::TrustProblem& problem) {
  const std::string text = sealprobe::TrustProblemText(problem);
  if (problem.path.empty()) return Usage(text);
  Complain(problem.path, text);
  return kUsage;
}

// What to check: the manifest's entries under --staging, then the other
// files of the staged folders; else the files of the PATHs. Complains of
// what cannot be read (kUnreadable), of a folder with nothing to check
// (kUsage), or of a staged folder named without its separator (kUsage, and
// `stop`); kValid otherwise.
struct Work {
  std::vector<sealprobe::StagingEntry> entries;
  std::vector<sealprobe::InputFile> files;
  int exit = kValid;
  bool stop = false;
};

// "1 file", "2 other files".
std::string Files(size_t count, const char* which) {
  return std::to_string(count) + " " + which + (count == 1 ? "file" : "files");
}

// Says what each folder walked held, and complains of what could not be
// read and of a folder that holds nothing to check (a staged folder's
// entries are always something); into `work`.
void TakeInputs(sealprobe::Inputs inputs, bool folders_may_be_empty,
                Work* work) {
  for (const sealprobe::InputProblem& problem : inputs.problems) {
    Complain(problem.path, problem.reason);
    work->exit = std::max<int>(work->exit, kUnreadable);
  }
  for (const sealprobe::FolderCount& count : inputs.folders) {
    // An empty folder argument is the current folder.
    const std::string folder = count.path.empty() ? "." : count.path;
    std::fprintf(stderr,
                 "sealprobe-explain: %s: %s to check, %s of a kind "
                 "not verified here, %s left out\n",
                 TerminalSafe(folder).c_str(),
                 Files(count.verified, "").c_str(),
                 Files(count.unsupported, "").c_str(),
                 Files(count.others, "other ").c_str());
    if (count.empty() && !folders_may_be_empty) {
      std::fprintf(stderr, "sealprobe-explain: nothing to check in %s\n",
                   TerminalSafe(folder).c_str());
      work->exit = std::max<int>(work->exit, kUsage);
    }
  }
  work->files = std::move(inputs.files);
}

Work Gather(const sealprobe::ExplainOptions& o, sealprobe::FileTree& tree) {
  Work work;
  if (!o.staging) {
    TakeInputs(sealprobe::CollectInputs(o.paths, tree), false, &work);
    return work;
  }
  const std::unique_ptr<sealprobe::FileOpener> opener =
      sealprobe::MakePlatformFileOpener();
  sealprobe::StagingCheck check = sealprobe::CheckStaging(
      o.staging->first, o.staging->second, tree, *opener);
  for (const sealprobe::StagingFolderProblem& problem : check.problems) {
    const std::string text = sealprobe::DescribeStagingProblem(problem);
    if (problem.kind == sealprobe::StagingFolderProblem::Kind::kNoSeparator) {
      Usage(text);
      work.stop = true;
      return work;
    }
    std::fprintf(stderr, "sealprobe-explain: %s\n", TerminalSafe(text).c_str());
    work.exit = kUnreadable;
  }
  work.entries = std::move(check.entries);
  TakeInputs(std::move(check.others), true, &work);
  return work;
}

// Whether a progress line may go to standard error: only for a person
// reading the text report, on a terminal, and not while the report goes
// down a pipe (to a pager that holds the same terminal).
bool ShowProgress(sealprobe::ReportFormat format) {
  struct stat out {};
  const bool piped = fstat(STDOUT_FILENO, &out) == 0 &&
                     (S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode));
  return format == sealprobe::ReportFormat::kText &&
         isatty(STDERR_FILENO) == 1 && !piped;
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Verifies the work on any thread and reports it in order on this one;
// the exit status.
int Report(const sealprobe::ExplainOptions& o, const Work& work,
           sealprobe::TrustAnchors& anchors, sealprobe::FileTree& tree) {
  const Clock::time_point start = Clock::now();
  const size_t count = work.entries.size() + work.files.size();
  const bool text = o.format == sealprobe::ReportFormat::kText;
  const std::unique_ptr<sealprobe::ReportRenderer> renderer =
      sealprobe::MakeReportRenderer(
          o.format, {kVersion, text && UseColour(), o.quiet,
                     sealprobe::DescribeTrust(anchors), kDocsUrl});
  const std::time_t now = std::time(nullptr);
  const auto produce = [&](size_t i) {
    const Clock::time_point began = Clock::now();
    const size_t entries = work.entries.size();
    sealprobe::FileRecord record =
        i < entries
            ? sealprobe::ExplainEntry(work.entries[i], anchors, o.policy, now)
            : sealprobe::ExplainInput(work.files[i - entries], anchors,
                                      o.policy, now);
    record.seconds = SecondsSince(began);
    return record;
  };
  sealprobe::Progress progress(ShowProgress(o.format), Clock::now,
                               [](const std::string& line) {
                                 std::fputs(line.c_str(), stderr);
                                 std::fflush(stderr);
                               });
  const bool shared_terminal = isatty(STDOUT_FILENO) == 1;
  Output out;
  bool any_invalid = false;
  bool any_unreadable = false;
  const auto deliver = [&](size_t i, sealprobe::FileRecord record) {
    // A file left out of the check on purpose fails nothing.
    const sealprobe::Outcome outcome = sealprobe::OutcomeOf(record);
    any_invalid = any_invalid || outcome == sealprobe::Outcome::kFailed;
    if (outcome == sealprobe::Outcome::kUnreadable) {
      any_unreadable = true;
      record.read_error = WhyUnreadable(record.file, tree);
      progress.Erase();
      Complain(record.file, record.read_error);
    }
    const std::string report = renderer->Add(record);
    // Where the report shares the terminal, it starts on a clean line.
    if (!report.empty() && shared_terminal) progress.Erase();
    const bool written = out.Write(report);
    progress.Update(i + 1, count);
    return written;
  };
  sealprobe::RunInOrder(count, o.jobs != 0 ? o.jobs : sealprobe::DefaultJobs(),
                        produce, deliver);
  progress.Erase();
  const int exit = std::max<int>(work.exit, any_unreadable ? kUnreadable
                                            : any_invalid  ? kNotValid
                                                           : kValid);
  if (!out.Write(renderer->End({exit, SecondsSince(start)})) ||
      std::fclose(stdout) != 0) {
    Complain("cannot write the report",
             std::strerror(out.failed() != 0 ? out.failed() : errno));
    return std::max<int>(exit, kUsage);
  }
  return exit;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const std::optional<sealprobe::ExplainOptions> parsed =
      sealprobe::ParseExplainOptions({argv + 1, argv + argc}, &error);
  if (!parsed) return Usage(error);
  const sealprobe::ExplainOptions& o = *parsed;
  if (o.help || o.version) {
    const std::string text =
        o.help ? UsageText()
               : std::string("sealprobe-explain ") + kVersion + "\n";
    Output out;
    if (out.Write(text)) return kValid;
    Complain("standard output", std::strerror(out.failed()));
    return kUsage;
  }
  sealprobe::TrustChoice trust =
      sealprobe::ChooseTrust(o.trust, sealprobe::ReadTrustEnvironment());
  if (trust.problem) return StopForTrust(*trust.problem);
  if (const std::optional<std::string> stale =
          sealprobe::StaleListWarning(*trust.anchors, std::time(nullptr))) {
    Complain("warning", *stale);
  }

  const std::unique_ptr<sealprobe::FileTree> tree =
      sealprobe::MakePlatformFileTree();
  const Work work = Gather(o, *tree);
  if (work.stop) return kUsage;
  return Report(o, work, *trust.anchors, *tree);
}

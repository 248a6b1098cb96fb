// sealprobe-roots sync|import|show: fetches Windows' root program from
// Microsoft (or takes it from files carried by hand), checks that it is
// Microsoft's, and keeps it in the folder sealprobe and sealprobe-explain
// read it from.
#include <getopt.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "authenticode/root_program/default_folder.h"
#include "authenticode/root_program/http_fetcher.h"
#include "authenticode/root_program/list_signature.h"
#include "authenticode/root_program/root_folder.h"
#include "authenticode/root_program/sync.h"
#include "explain/words/wording.h"
#include "roots/file_fetcher.h"
#include "roots/messages.h"
#include "terminal_text.h"

namespace sealprobe {
namespace {

constexpr char kVersionText[] = SEALPROBE_VERSION;

constexpr char kUsageText[] =
    "usage: sealprobe-roots sync [--dir DIR] [--url URL] "
    "[--without-disallowed]\n"
    "       sealprobe-roots import [--dir DIR] [--without-disallowed] "
    "FILE...\n"
    "       sealprobe-roots show [--dir DIR]\n"
    "\n"
    "Keeps Windows' root program in DIR, where sealprobe and\n"
    "sealprobe-explain find it, checked to be Microsoft's: each list signed\n"
    "under Microsoft Root Certificate Authority 2010, each root's\n"
    "certificate the one the list names, no list older than the folder's.\n"
    "The folder is replaced whole, or left as it was.\n"
    "\n"
    "  sync      fetch the lists and the roots' certificates from URL\n"
    "  import    take the same files carried by hand (or folders of them)\n"
    "  show      say what DIR holds, where it came from and how old it is\n"
    "\n"
    "  --dir DIR          the folder (default: "
    "/var/lib/sealprobe/windows-trust\n"
    "                     for root, else "
    "$XDG_DATA_HOME/sealprobe/windows-trust)\n"
    "  --url URL          the folder on the server (default: Microsoft's,\n"
    "                     "
    "http://ctldl.windowsupdate.com/.../trustedr/en/)\n"
    "  --without-disallowed\n"
    "                     keep no Disallowed list (a file Windows disallows\n"
    "                     may then pass)\n"
    "  --pin-sha256 HEX   check the lists under the root of this SHA-256\n"
    "                     instead of Microsoft's: for tests only\n"
    "  --version, --help\n"
    "\n"
    "Exit status: 0 done; 1 a file could not be fetched; 2 usage; 3 a list\n"
    "or file refused; 4 a list older than the folder's; 5 the folder cannot\n"
    "be written, or (show) does not load.\n";

enum Command { kSync, kImport, kShow };

struct Options {
  Command command = kSync;
  std::string folder;
  std::string url = kMicrosoftRootDirUrl;
  bool without_disallowed = false;
  ListPin pin = MicrosoftListPin();
  bool pin_given = false;
  std::vector<std::string> files;
  bool help = false;
  bool version = false;
};

enum OptionId { kDir = 256, kUrl, kWithoutDisallowed, kPin, kHelp, kVersion };

const option kLongOptions[] = {
    {"dir", required_argument, nullptr, kDir},
    {"url", required_argument, nullptr, kUrl},
    {"without-disallowed", no_argument, nullptr, kWithoutDisallowed},
    {"pin-sha256", required_argument, nullptr, kPin},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0}};

void Say(const std::string& line) {
  std::fprintf(stderr, "sealprobe-roots: %s\n", TerminalSafe(line).c_str());
}

int Usage(const std::string& problem) {
  Say(problem);
  std::fputs(kUsageText, stderr);
  return kRootsUsage;
}

// `argv[0]` is the command; the options after it, in any order, as
// --name VALUE or --name=VALUE. nullopt, with the usage printed, when they
// are not the command's.
std::optional<Options> ParseOptions(Command command, int argc, char** argv) {
  Options o;
  o.command = command;
  opterr = 0;
  optind = 1;
  for (int id;
       (id = getopt_long(argc, argv, ":", kLongOptions, nullptr)) != -1;) {
    const std::string value = optarg != nullptr ? optarg : "";
    if (id == kDir) {
      o.folder = value;
    } else if (id == kUrl && command == kSync) {
      o.url = value;
    } else if (id == kWithoutDisallowed && command != kShow) {
      o.without_disallowed = true;
    } else if (id == kPin) {
      const std::optional<Sha256> pin = ParseSha256(value);
      if (!pin) {
        Usage("--pin-sha256 takes a SHA-256 in hexadecimal, not " + value);
        return std::nullopt;
      }
      o.pin = ListPin{*pin, std::nullopt};
      o.pin_given = true;
    } else if (id == kHelp || id == kVersion) {
      (id == kHelp ? o.help : o.version) = true;
      return o;
    } else {
      Usage(std::string(argv[optind - 1]) +
            (id == ':' ? " needs a value" : ": not an option of this command"));
      return std::nullopt;
    }
  }
  for (int i = optind; i < argc; ++i) o.files.push_back(argv[i]);
  if (command == kImport ? o.files.empty() : !o.files.empty()) {
    Usage(command == kImport ? "import needs the files to take"
                             : "unexpected argument " + o.files.front());
    return std::nullopt;
  }
  if (o.folder.empty()) o.folder = DefaultWindowsTrustFolder();
  if (o.folder.empty()) {
    Usage("no --dir, and no home folder to keep the root program in");
    return std::nullopt;
  }
  return o;
}

int Synced(const Options& o, Fetcher& fetcher) {
  if (o.pin_given) {
    Say("warning: the lists are checked under the root given by "
        "--pin-sha256, not Microsoft's");
  }
  SyncOptions sync;
  sync.folder = o.folder;
  sync.without_disallowed = o.without_disallowed;
  sync.pin = o.pin;
  sync.now = std::time(nullptr);
  const SyncResult result = SyncFolder(sync, fetcher);
  if (!result.ok()) {
    Say(SyncFailureText(result, fetcher.source(), o.pin));
    Say(o.folder + ": left as it was");
    return ExitStatusOf(result);
  }
  std::fputs(SyncSuccessText(result, o.folder, fetcher.source()).c_str(),
             stdout);
  const long age = DaysBetween(result.roots.this_update, sync.now);
  if (age > kStaleDays) {
    Say("warning: the root list is " + std::to_string(age) +
        " days old; Microsoft publishes one about every month");
  }
  return std::fflush(stdout) == 0 ? kRootsDone : kRootsFolder;
}

int Sync(const Options& o) {
  HttpFetcherSettings settings;
  settings.base_url = o.url;
  settings.user_agent = std::string("sealprobe-roots/") + kVersionText;
  std::string error;
  const std::unique_ptr<Fetcher> fetcher = MakeHttpFetcher(settings, &error);
  if (!fetcher) {
    Say(error);
    return kRootsSource;
  }
  return Synced(o, *fetcher);
}

int Import(const Options& o) {
  FileFetcher fetcher;
  std::string error;
  for (const std::string& file : o.files) {
    if (!fetcher.Add(file, &error)) {
      Say(error);
      return kRootsUsage;
    }
  }
  return Synced(o, fetcher);
}

int Show(const Options& o) {
  TrustLoadError error;
  const std::optional<RootFolder> read = ReadRootFolder(
      o.folder, [](const Sha1&) { return false; }, &error);
  if (!read) {
    Say(error.file + ": " + LoadErrorText(error));
    if (error.fault == LoadFault::kNotAFolder ||
        error.fault == LoadFault::kNoRootList) {
      Say("fetch Windows' root program with: sealprobe-roots sync");
    }
    return kRootsFolder;
  }
  // The signer is named whatever the folder holds; whether it is under
  // the pinned root can be told only when the folder holds that root.
  std::optional<ListSignature> signature;
  std::optional<std::vector<uint8_t>> root;
  for (const RootBody& body : read->bodies) {
    std::optional<std::vector<uint8_t>> der = ReadRootBody(*read->opened, body);
    if (der && Sha256OfBytes(der->data(), der->size()) == o.pin.sha256) {
      root = std::move(der);
      break;
    }
  }
  const std::optional<std::vector<uint8_t>> list =
      ReadHeldList(o.folder, TrustListKind::kRoots, SyncLimits().list_bytes);
  if (list) {
    signature = AuthenticateTrustList(
        list->data(), list->size(), root ? root->data() : nullptr,
        root ? root->size() : 0, read->roots.this_update);
  }
  std::fputs(ShowText(o.folder, *read, signature, root.has_value(), o.pin,
                      std::time(nullptr))
                 .c_str(),
             stdout);
  return std::fflush(stdout) == 0 ? kRootsDone : kRootsFolder;
}

// Prints the usage or the version, as asked.
int HelpOrVersion(bool help) {
  if (help) {
    std::fputs(kUsageText, stdout);
  } else {
    std::printf("sealprobe-roots %s\n", kVersionText);
  }
  return std::fflush(stdout) == 0 ? kRootsDone : kRootsUsage;
}

int Main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "--version") {
    if (argc != 2) return Usage(first + " takes nothing else");
    return HelpOrVersion(first == "--help");
  }
  Command command = kSync;
  if (first == "import") {
    command = kImport;
  } else if (first == "show") {
    command = kShow;
  } else if (first != "sync") {
    return Usage(first.empty() ? "no command given"
                               : "unknown command " + first);
  }
  const std::optional<Options> options =
      ParseOptions(command, argc - 1, argv + 1);
  if (!options) return kRootsUsage;
  if (options->help || options->version) return HelpOrVersion(options->help);
  switch (command) {
    case kSync:
      return Sync(*options);
    case kImport:
      return Import(*options);
    case kShow:
      return Show(*options);
  }
  return kRootsUsage;
}

}  // namespace
}  // namespace sealprobe

int main(int argc, char** argv) { return sealprobe::Main(argc, argv); }

#include "roots/messages.h"

#include <cerrno>
#include <cstring>

#include "explain/words/wording.h"
#include "hex.h"
#include "terminal_text.h"
#include "utc_time.h"

namespace sealprobe {
namespace {

// A time as 2026-04-22T10:00:00Z, or its count of seconds where it cannot
// be written so.
std::string WhenText(std::time_t when) {
  return UtcText(when).value_or(std::to_string(static_cast<long long>(when)));
}

std::string MiB(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::string SignatureText(const ListSignature& s, const ListPin& pin) {
  const std::string root =
      "the pinned root (SHA-256 " + HexOf(pin.sha256) + ")";
  const std::string signer = "its signer, " + s.signer + ", ";
  switch (s.fault) {
    case ListSignatureFault::kNone:
      break;
    case ListSignatureFault::kNotSigned:
      return "its signature does not verify";
    case ListSignatureFault::kBadRoot:
      return "the certificate of " + root + " does not decode";
    case ListSignatureFault::kNoChain:
      return signer + "does not chain to " + root +
             " at the list's thisUpdate: " + s.detail + " (certificate " +
             std::to_string(s.depth) + " up from the signer)";
    case ListSignatureFault::kSignerUsage:
      return signer +
             "may not sign root lists (its extended key usage "
             "lacks " +
             kRootListSignerUsage + ")";
    case ListSignatureFault::kIssuerUsage:
      return signer + "is under a CA (certificate " + std::to_string(s.depth) +
             " up) whose extended key usage leaves out " + kRootListSignerUsage;
  }
  return "it is signed under " + root;
}

std::string FolderText(const FolderProblem& p) {
  const std::string why = std::strerror(p.error);
  using Step = FolderProblem::Step;
  switch (p.step) {
    case Step::kNone:
      break;
    case Step::kParent:
      return p.path + ": cannot make the folder there: " + why;
    case Step::kLock:
      return p.path + ": cannot take the lock: " + why;
    case Step::kBusy:
      return p.path + ": another sealprobe-roots is writing the folder";
    case Step::kForeign:
      if (p.error != ENOTEMPTY) return p.path + ": cannot be read: " + why;
      return p.path +
             ": holds more than a folder of Windows' root program holds "
             "(a subfolder, a link, or a file that is not *.stl, *.cab, "
             "*.crt, *.sst or *.txt); sealprobe-roots replaces only such a "
             "folder, whole: name another with --dir";
    case Step::kCleanup:
      return p.path + ": cannot remove what an earlier sync left: " + why;
    case Step::kCreate:
    case Step::kWrite:
      return p.path + ": cannot be written: " + why;
    case Step::kSwap:
      return p.path + ": the new folder cannot be swapped in: " + why;
  }
  return p.path;
}

std::string ListLine(const char* what, const ListSummary& list) {
  return std::string(what) + ": thisUpdate " + WhenText(list.this_update) +
         ", sequence number " + list.sequence_number + ", " +
         std::to_string(list.entries) + " entries, signed by " +
         TerminalSafe(list.signer) + "\n";
}

}  // namespace

RootsExit ExitStatusOf(const SyncResult& result) {
  switch (result.fault) {
    case SyncFault::kNone:
      return kRootsDone;
    case SyncFault::kFetch:
    case SyncFault::kMissing:
      return kRootsSource;
    case SyncFault::kOverCap:
    case SyncFault::kRead:
    case SyncFault::kNoPinnedRoot:
    case SyncFault::kPinnedRoot:
    case SyncFault::kSignature:
    case SyncFault::kBody:
    case SyncFault::kLoad:
      return kRootsRefused;
    case SyncFault::kRollback:
      return kRootsRollback;
    case SyncFault::kFolder:
      return kRootsFolder;
  }
  return kRootsRefused;
}

std::string SyncFailureText(const SyncResult& r, const std::string& source,
                            const ListPin& pin) {
  const std::string at = source == kImportedSource ? r.file : source + r.file;
  const SyncLimits limits;
  switch (r.fault) {
    case SyncFault::kNone:
      break;
    case SyncFault::kFetch:
      return at + ": cannot be fetched: " + r.detail;
    case SyncFault::kMissing:
      return at + ": not there" +
             (r.detail.empty() ? "" : ", nor " + r.detail) +
             (source == kImportedSource ? " among the files given" : "");
    case SyncFault::kOverCap:
      if (r.detail == "folder") {
        return r.file + ": the new folder would hold more than " +
               MiB(limits.folder_bytes);
      }
      return at + ": larger than sealprobe-roots takes (" +
             MiB(limits.list_bytes) + " a list or store, " +
             MiB(limits.body_bytes) + " a certificate)";
    case SyncFault::kRead:
      return at + ": " + LoadErrorText(r.load_error);
    case SyncFault::kNoPinnedRoot:
      return at + ": names no root with the SHA-256 " + HexOf(pin.sha256) +
             ", which its signer must chain to";
    case SyncFault::kPinnedRoot:
      return at + ": is not the pinned root: its SHA-256 is not " +
             HexOf(pin.sha256);
    case SyncFault::kSignature:
      return at + ": not authentic: " + SignatureText(r.signature, pin);
    case SyncFault::kBody:
      if (r.detail == "certificate") return at + ": is not a DER certificate";
      return at + ": its " + r.detail +
             " is not the one the root list gives for it";
    case SyncFault::kRollback:
      return at + ": older than the folder's (sequence number " + r.offered +
             " against " + r.held +
             ", or an earlier thisUpdate): a list served again after a "
             "newer one is refused";
    case SyncFault::kFolder:
      return FolderText(r.folder_problem);
    case SyncFault::kLoad:
      return r.file + ": " + LoadErrorText(r.load_error) +
             " (in the folder as written, which is not swapped in)";
  }
  return at;
}

std::string SyncSuccessText(const SyncResult& r, const std::string& folder,
                            const std::string& source) {
  std::string out = TerminalSafe(folder) + ": " +
                    (r.current ? "already current, nothing written"
                               : "updated from " + TerminalSafe(source)) +
                    "\n";
  out += ListLine("  root list", r.roots);
  out += "  root certificates: " + std::to_string(r.bodies) + ", " +
         std::to_string(r.fetched) + " of them new\n";
  if (r.disallowed) {
    out += ListLine("  Disallowed list", *r.disallowed);
  } else {
    out +=
        "  Disallowed list: none (--without-disallowed): a file Windows "
        "disallows may pass\n";
  }
  return out;
}

long DaysBetween(std::time_t then, std::time_t now) {
  return static_cast<long>((now - then) / 86400);
}

std::string ShowText(const std::string& folder, const RootFolder& read,
                     const std::optional<ListSignature>& signature,
                     bool root_held, const ListPin& pin, std::time_t now) {
  const TrustList& roots = read.roots;
  std::string out = "folder:          " + TerminalSafe(folder) + "\n";
  out += "root list:       thisUpdate " + WhenText(roots.this_update) +
         ", sequence number " + roots.sequence_number + ", " +
         std::to_string(roots.subjects.size()) + " roots, " +
         std::to_string(read.bodies.size()) + " certificates held\n";
  const std::string pinned = "the root of SHA-256 " + HexOf(pin.sha256);
  if (!signature || signature->fault == ListSignatureFault::kNotSigned) {
    out += "signer:          none whose signature verifies\n";
  } else {
    out += "signer:          " + TerminalSafe(signature->signer) + "\n";
    out += "                 under " + TerminalSafe(signature->issuer) + "\n";
    out += "authentic:       " +
           (!root_held ? "cannot tell: the folder lacks " + pinned
            : signature->ok()
                ? "yes, under " + pinned
                : "no: " + TerminalSafe(SignatureText(*signature, pin))) +
           "\n";
  }
  if (read.disallowed) {
    out += "Disallowed list: thisUpdate " +
           WhenText(read.disallowed->this_update) + ", sequence number " +
           read.disallowed->sequence_number + ", " +
           std::to_string(read.disallowed->identifiers.size()) + " entries; " +
           std::to_string(read.disallowed_certificates.size()) +
           " certificates in disallowedcert.sst\n";
  } else {
    out += "Disallowed list: none: a file Windows disallows may pass\n";
  }
  if (read.origin) {
    out += "source:          " + TerminalSafe(read.origin->source) +
           ", fetched " + WhenText(read.origin->fetched) + "\n";
  } else {
    out += "source:          not recorded (not written by sealprobe-roots)\n";
  }
  const long age = DaysBetween(roots.this_update, now);
  out += "age:             " + std::to_string(age) + " days since thisUpdate" +
         (age > kStaleDays ? ": older than " + std::to_string(kStaleDays) +
                                 " days, sync again"
                           : std::string()) +
         "\n";
  return out;
}

}  // namespace sealprobe

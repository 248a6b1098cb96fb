// What sealprobe-roots says, and the exit status it ends with: words for
// the values the sync and the folder reader return.
#ifndef SEALPROBE_ROOTS_MESSAGES_H_
#define SEALPROBE_ROOTS_MESSAGES_H_

#include <ctime>
#include <optional>
#include <string>

#include "authenticode/root_program/list_signature.h"
#include "authenticode/root_program/root_folder.h"
#include "authenticode/root_program/sync.h"

namespace sealprobe {

// Exit statuses, by cause.
enum RootsExit {
  kRootsDone = 0,      // synced, already current, imported, or shown
  kRootsSource = 1,    // a file could not be fetched, or the source lacks it
  kRootsUsage = 2,     // the command line is not one sealprobe-roots takes
  kRootsRefused = 3,   // a list or file is refused: malformed, over a cap,
                       // not signed under the pinned root, not the
                       // certificate the list names
  kRootsRollback = 4,  // a list older than the folder's
  kRootsFolder = 5,    // the folder cannot be locked, written or swapped, or
                       // (show) does not load
};

RootsExit ExitStatusOf(const SyncResult& result);

// Why a sync failed, in one line: where (the file at `source`, or a path)
// and why. `pin` is the one the lists were held to.
std::string SyncFailureText(const SyncResult& result, const std::string& source,
                            const ListPin& pin);

// What a sync that succeeded did to `folder`, in lines, each safe for a
// terminal (TerminalSafe).
std::string SyncSuccessText(const SyncResult& result, const std::string& folder,
                            const std::string& source);

// Whole days from `then` to `now`.
long DaysBetween(std::time_t then, std::time_t now);

// Lists older than this are worth a warning: Microsoft publishes one about
// every month.
inline constexpr long kStaleDays = 90;

// What `sealprobe-roots show` prints for `folder`: its lists, the root
// list's signer (`signature`: checked under `pin` when `root_held`, the
// folder holding that root's certificate), its roots, where it came from,
// and its age; each line safe for a terminal.
std::string ShowText(const std::string& folder, const RootFolder& read,
                     const std::optional<ListSignature>& signature,
                     bool root_held, const ListPin& pin, std::time_t now);

}  // namespace sealprobe

#endif  // SEALPROBE_ROOTS_MESSAGES_H_

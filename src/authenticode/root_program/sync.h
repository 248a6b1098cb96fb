// Bringing a folder of Windows' root program up to date from what a
// Fetcher serves: Microsoft's root list, its Disallowed list and
// certificates, and the root certificates the list names. Nothing is
// believed because of where it came from: each list must be signed under
// a pinned root, each certificate must be the one the list names, and no
// list may be older than the one the folder holds. The folder is replaced
// whole (StagedFolder) or not at all.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_SYNC_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_SYNC_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/certificate_bytes.h"
#include "authenticode/root_program/fetcher.h"
#include "authenticode/root_program/list_signature.h"
#include "authenticode/root_program/root_folder.h"
#include "authenticode/root_program/staged_folder.h"
#include "authenticode/root_program/trust_list.h"

namespace sealprobe {

// The names Microsoft publishes the files under, and a folder holds them
// by (the lists bare, each root as <SHA1>.crt, upper-case hexadecimal).
inline constexpr char kRootListFile[] = "authroot.stl";
inline constexpr char kRootListCabinet[] = "authrootstl.cab";
inline constexpr char kDisallowedListFile[] = "disallowedcert.stl";
inline constexpr char kDisallowedListCabinet[] = "disallowedcertstl.cab";
inline constexpr char kDisallowedStoreFile[] = "disallowedcert.sst";
// The root list's sequence number, which the sync takes only as a hint
// that the list is unchanged.
inline constexpr char kSequenceHintFile[] = "authrootseq.txt";

// The caps on what is fetched.
struct SyncLimits {
  size_t list_bytes = size_t{16} << 20;  // a list, cabinet or store
  size_t body_bytes = size_t{1} << 20;   // a root's certificate
  // All the folder holds, as FolderLimits caps it for its readers.
  size_t folder_bytes = FolderLimits().folder_bytes;
  size_t hint_bytes = 256;
};

// The root a list must be signed under, by the SHA-256 of its DER; its
// SHA-1 besides, when known, names it in a list that gives no SHA-256.
struct ListPin {
  Sha256 sha256{};
  std::optional<Sha1> sha1;
};
// Microsoft Root Certificate Authority 2010 (list_signature.h).
ListPin MicrosoftListPin();

struct SyncOptions {
  std::string folder;
  bool without_disallowed = false;
  ListPin pin = MicrosoftListPin();
  std::time_t now = 0;  // recorded as when the folder was fetched
  SyncLimits limits;
};

enum class SyncFault {
  kNone,
  kFetch,         // `file` could not be fetched: `detail`, the source's words
  kMissing,       // the source has no `file` (nor `detail`, when named),
                  // which it must have
  kOverCap,       // `file` is larger than SyncLimits allows (`detail`: the
                  // folder as a whole is)
  kRead,          // `file` is not a list, cabinet or store: `load_error`
  kNoPinnedRoot,  // the root list names no root with the pin's digest
  kPinnedRoot,    // `file`, the root the list names for the pin, does not
                  // have the pin's SHA-256
  kSignature,     // `file`'s signer is not under the pinned root:
                  // `signature`
  kBody,          // `file` is not the certificate the root list names:
                  // `detail` is "SHA-1", "SHA-256" or "certificate"
  kRollback,      // `file` is older than the folder's: sequence
                  // `offered` < `held`, or its thisUpdate is earlier
  kFolder,        // the folder cannot be written: `folder_problem`
  kLoad,          // the folder written does not load: `load_error`
};

// A list as the folder now holds it.
struct ListSummary {
  std::time_t this_update = 0;
  std::string sequence_number;  // hexadecimal, as written
  size_t entries = 0;
  std::string signer;  // the signer's subject
};

struct SyncResult {
  SyncFault fault = SyncFault::kNone;
  std::string file;
  std::string detail;
  TrustLoadError load_error;
  ListSignature signature;
  FolderProblem folder_problem;
  std::string held;     // for kRollback: the folder's sequence number
  std::string offered;  // and the one offered
  // When it succeeds:
  bool current = false;  // the folder was current, and is left untouched
  ListSummary roots;
  std::optional<ListSummary> disallowed;
  size_t bodies = 0;   // root certificates the folder holds
  size_t fetched = 0;  // of them fetched this time
  bool ok() const { return fault == SyncFault::kNone; }
};

// Brings `options.folder` up to date from `fetcher`, in this order: the
// root list (authrootstl.cab, else authroot.stl; the folder's own when
// authrootseq.txt names its sequence number), read by ReadTrustList; the
// certificate of the root it names for the pin, which must have the pin's
// SHA-256; the list's signer under that root (AuthenticateTrustList, at
// the list's thisUpdate); its sequence number and thisUpdate no lower than
// the folder's; the same for the Disallowed list, and disallowedcert.sst
// read as a serialized store, unless `without_disallowed`; then every
// root's certificate, the folder's own copy when it is the right one, else
// fetched, each with the SHA-1 the list names it by and the SHA-256 it
// gives, and one DER certificate. When the lists, the store and every
// certificate are the folder's already, nothing is written. Otherwise the
// new folder is written beside the old, must load as the verifier loads it
// (WindowsRoots), and replaces the old in one step. Any failure leaves the
// folder as it was.
SyncResult SyncFolder(const SyncOptions& options, Fetcher& fetcher);

// Compares two sequence numbers written in hexadecimal as the integers
// they are: negative, zero or positive as `a` is below, equal to or above
// `b`. An empty one is zero.
int CompareSequenceNumbers(const std::string& a, const std::string& b);

// Whether the sync may ask a Fetcher for a file of this name, letter case
// aside: a list, its cabinet, disallowedcert.sst, or <SHA1>.crt.
bool IsSyncFileName(const std::string& name);

// The list of `kind` a folder holds, bare or in its cabinet, as bytes;
// nullopt when it holds none or it cannot be read within `max_bytes`.
std::optional<std::vector<uint8_t>> ReadHeldList(const std::string& folder,
                                                 TrustListKind kind,
                                                 size_t max_bytes);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_SYNC_H_

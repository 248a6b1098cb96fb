// Reading a folder of Windows' root program as certutil -syncWithWU and
// sealprobe-roots write it: the root list, the root certificates, the
// Disallowed list and certificates. Only reading: what the lists mean is
// root_rules.h's.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ROOT_FOLDER_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ROOT_FOLDER_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "authenticode/root_program/cabinet.h"
#include "authenticode/root_program/serialized_store.h"
#include "authenticode/root_program/trust_list.h"
#include "file_descriptor.h"

namespace sealprobe {

// The caps on what a folder may hold.
struct FolderLimits {
  size_t entries = 10000;  // names in it, whatever each is
  size_t file_bytes = size_t{16} << 20;
  size_t folder_bytes = size_t{256} << 20;
  size_t certificate_bytes = size_t{1} << 20;  // a *.crt
};

// Why a folder does not load.
enum class LoadFault {
  kNone,
  kNotAFolder,           // there is no folder there
  kFolderUnreadable,     // it cannot be listed: `detail` is the system's
                         // reason
  kTooManyFiles,         // more than FolderLimits::entries
  kNoRootList,           // neither authroot.stl nor authrootstl.cab
  kNamesDiffer,          // two files whose names differ only in letter
                         // case: the other is `detail`
  kFileUnreadable,       // the file cannot be read: `detail` is why
  kNotRegularFile,       // a folder, FIFO, device or socket under a name
                         // the folder reads
  kFileOverCap,          // over FolderLimits::file_bytes, or the folder
                         // over folder_bytes with it
  kCabinet,              // no list `detail` out of the cabinet: `cause`
  kListsDiffer,          // the cabinet holds another list `detail` than
                         // the bare one
  kTrustList,            // not a valid trust list: `cause`
  kStore,                // not a valid serialized store: `cause`
  kCertificateTooLarge,  // a *.crt over FolderLimits::certificate_bytes
  kNotACertificate,      // a *.crt that is not one DER certificate
  kStoreCertificate,     // certificate `index` (from 1) of a store does not
                         // decode
  kRootSubject,          // a root whose subject does not decode
  kSameSubject,          // more than kMaxAnchorsPerSubject roots share one
                         // subject (anchor_store.h)
  kNoMemory,
};

struct TrustLoadError {
  std::string file;  // the file at fault, or the folder itself
  LoadFault fault = LoadFault::kNone;
  std::string detail;
  size_t index = 0;
  std::variant<std::monostate, CabinetError, TrustListError, StoreError> cause;
};

// Where a folder came from, as sealprobe-roots records it in the folder's
// kOriginFile; a folder exported on Windows has none.
struct FolderOrigin {
  std::string source;       // the address fetched from, or kImportedSource
  std::time_t fetched = 0;  // when the list was fetched or imported
  bool without_disallowed = false;  // written without the Disallowed list
};
inline constexpr char kOriginFile[] = "sealprobe-roots.txt";
// FolderOrigin::source for files imported by hand.
inline constexpr char kImportedSource[] = "import";
// The origin as the file holds it: "source ...", "fetched
// YYYY-MM-DDTHH:MM:SSZ" and "disallowed yes|no" lines.
std::string FormatOrigin(const FolderOrigin& origin);
// nullopt when `text` is not what FormatOrigin writes.
std::optional<FolderOrigin> ParseOrigin(const std::string& text);

// A root certificate the folder holds, as far as it is read before a chain
// asks for it: its DER stays on disk.
struct RootBody {
  Sha1 sha1;                     // of its DER
  std::vector<uint8_t> subject;  // its subject Name's DER
  // Its DER: `size` bytes at `offset` of the file `file` of the folder.
  std::string file;
  uint64_t offset = 0;
  size_t size = 0;
};

// What a folder holds, as far as the lists can use it.
struct RootFolder {
  TrustList roots;
  std::optional<TrustList> disallowed;  // none in the folder: nullopt
  // The folder as it was opened: its files are read through it, so that a
  // folder swapped in at its path meanwhile is not mixed with it.
  std::shared_ptr<const FileDescriptor> opened;
  // Each certificate of a *.crt or *.sst (but disallowedcert.sst) that the
  // root list names or `also_wanted` keeps, once each; the others are
  // dropped as they are read.
  std::vector<RootBody> bodies;
  // The SHA-1 of each certificate of disallowedcert.sst, over its bytes as
  // they are in the store.
  std::set<Sha1> disallowed_certificates;
  std::optional<FolderOrigin> origin;
};

// How the folder matches a file's name: letter case aside (ASCII).
std::string NameKey(std::string name);

// Reads the folder at `folder`: the root list (authroot.stl, or
// authroot.stl inside authrootstl.cab; both must agree), root certificates
// as DER *.crt files and in *.sst serialized stores, and optionally the
// Disallowed list (disallowedcert.stl or disallowedcertstl.cab) and the
// certificates of disallowedcert.sst. Names are matched without regard to
// letter case, and two that differ only so are refused; other files are
// never opened. Each file is opened without blocking and must be a regular
// file. `also_wanted` says, by the SHA-1 of its DER, which root
// certificates to keep besides those the list names. nullopt, with `error` set,
// on a folder that cannot be read or holds no root list, on a list, store,
// cabinet or certificate that is malformed or over a cap, and on a folder over
// `limits`.
std::optional<RootFolder> ReadRootFolder(
    const std::string& folder,
    const std::function<bool(const Sha1&)>& also_wanted, TrustLoadError* error,
    const FolderLimits& limits = {});

// The DER of `body`, read again from `opened`; nullopt when it no longer
// reads or is no longer the certificate read at first (another SHA-1).
std::optional<std::vector<uint8_t>> ReadRootBody(const FileDescriptor& opened,
                                                 const RootBody& body);

// The subject Name (its whole DER) of the certificate whose DER is the
// `size` bytes at `der`, read without decoding the certificate; false
// when those bytes are not one certificate's outline.
bool CertificateSubject(const uint8_t* der, size_t size,
                        std::vector<uint8_t>* subject);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_ROOT_FOLDER_H_

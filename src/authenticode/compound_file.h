// A compound file ([MS-CFB], structured storage: Windows Installer
// packages, old Office documents), read for what an Authenticode digest
// needs: its directory as stored (raw UTF-16 names, types, CLSIDs, state
// bits, times, stream sizes), the storages' children, and each stream's
// bytes, streamed from the source and never held whole. Reads untrusted
// bytes: every header field, FAT, DIFAT, mini FAT and directory sector is
// checked against the source before it is read, every field is read
// little-endian, the tree is walked without recursion, and the caps below
// bound what a file can make the reader hold or walk.
#ifndef SEALPROBE_AUTHENTICODE_COMPOUND_FILE_H_
#define SEALPROBE_AUTHENTICODE_COMPOUND_FILE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "authenticode/byte_source.h"

namespace sealprobe {

// Caps, each far above what Windows Installer writes (its packages are at
// most 2 GiB, with a few hundred to a few thousand streams). Sectors of the
// file after its header: 4 GiB of 512-byte sectors, 32 GiB of 4 KiB ones;
// the reader keeps one bit per sector (1 MiB at most).
inline constexpr uint64_t kMaxCompoundSectors = uint64_t{1} << 23;
// Directory entries, used or not: 8 MiB of directory.
inline constexpr uint32_t kMaxDirectoryEntries = uint32_t{1} << 16;
// 64-byte sectors of the mini stream: 256 MiB, for streams under 4 KiB.
inline constexpr uint64_t kMaxMiniSectors = uint64_t{1} << 22;

enum class CompoundStatus {
  kOk,
  kNotCompound,  // no compound file signature at the start
  kMalformed,    // the signature, then something [MS-CFB] does not allow,
                 // or a cap: CompoundFault says which
  kReadError,    // the source failed to read a range it contains
};

enum class CompoundFault {
  kNone,
  kHeader,  // shorter than a header, another byte order, version and sector
            // size, mini sector size or mini stream cutoff
  kTooManySectors,
  kTooManyEntries,
  kTooManyMiniSectors,
  kFatLocation,   // a FAT or DIFAT sector outside the file, or fewer FAT
                  // sectors listed than the header counts
  kBrokenChain,   // a chain that leaves the file, the FAT or the mini
                  // stream, meets a free or special sector, or ends before
                  // its stream does
  kSectorReused,  // a sector (or mini sector) met twice: a cycle in a chain,
                  // or two chains sharing it
  kBadEntry,      // a directory entry reached from the root whose name is not a
                  // null-terminated UTF-16 string of 1 to 31 characters, whose
                  // type is not a storage or a stream, whose sibling or child
                  // is outside the directory, or a stream larger than the file
  kBadTree,  // the root is not entry 0 of root type, or an entry is reached
             // twice (a cycle), or a stream has a child
  kDuplicateName,  // two children of one storage with the same name
};

enum class EntryType : uint8_t {
  kUnused = 0,
  kStorage = 1,
  kStream = 2,
  kRoot = 5,
};

inline constexpr uint32_t kNoStream = 0xffffffff;

using Clsid = std::array<uint8_t, 16>;

// A directory entry as stored, its fields little-endian on disk.
struct DirectoryEntry {
  std::array<uint8_t, 64> name{};  // UTF-16LE, the terminating null included
  uint16_t name_size = 0;          // in bytes, the terminator included
  EntryType type = EntryType::kUnused;
  uint32_t left = kNoStream;
  uint32_t right = kNoStream;
  uint32_t child = kNoStream;
  Clsid clsid{};
  uint32_t state_bits = 0;
  std::array<uint8_t, 8> created{};   // FILETIME, as stored
  std::array<uint8_t, 8> modified{};  // FILETIME, as stored
  uint32_t start = 0;  // the first sector (or mini sector) of a stream
  // A stream's size; a version 3 file's only in its low 32 bits, as [MS-CFB]
  // advises (older writers left the high ones uninitialised).
  uint64_t size = 0;
  // A storage's children in CompoundFile::children, by name.
  uint32_t children_begin = 0;
  uint32_t children_count = 0;

  // The name's UTF-16LE bytes without the terminator: compared octet for
  // octet, they order a storage's children.
  const uint8_t* raw_name() const { return name.data(); }
  size_t raw_name_size() const { return name_size >= 2 ? name_size - 2u : 0; }
};

// What the reader found of the file's layout, for the record.
struct CompoundLayout {
  uint16_t major_version = 0;  // 3 (512-byte sectors) or 4 (4 KiB)
  uint32_t sector_size = 0;
  uint64_t sectors = 0;  // after the header, the last one possibly partial
  uint32_t fat_sectors = 0;
  uint32_t difat_sectors = 0;
  uint32_t mini_fat_sectors = 0;
  uint32_t directory_entries = 0;  // slots, used or not
  uint32_t storages = 0;           // reached from the root, the root left out
  uint32_t streams = 0;
  Clsid root_clsid{};
};

// A pointer range into CompoundFile::children.
struct EntryList {
  const uint32_t* first = nullptr;
  const uint32_t* past_last = nullptr;
  const uint32_t* begin() const { return first; }
  const uint32_t* end() const { return past_last; }
  size_t size() const { return static_cast<size_t>(past_last - first); }
};

class CompoundFile;

struct CompoundRead {
  CompoundStatus status = CompoundStatus::kNotCompound;
  CompoundFault fault = CompoundFault::kNone;  // with kMalformed
  CompoundLayout layout;                       // as far as it was read
};

struct RootClsidRead {
  CompoundStatus status = CompoundStatus::kNotCompound;
  CompoundFault fault = CompoundFault::kNone;
  Clsid clsid{};  // with kOk
};

// Whether `source` starts with the compound file signature, D0 CF 11 E0 A1
// B1 1A E1 ([MS-CFB] 2.2). False when that cannot be read.
bool StartsAsCompoundFile(ByteSource& source);

// The root storage's CLSID, from the header and the first directory sector
// alone: what a file's kind is told by, before the rest is read.
RootClsidRead ReadRootClsid(ByteSource& source);

class CompoundFile {
 public:
  // Reads the header, the FAT's and DIFAT's sector lists, the directory, the
  // mini FAT and mini stream chains, and walks every chain of every stream
  // reached from the root, each sector at most once in all: `file` is set
  // only with kOk, and then every stream's chain was whole when read. The
  // FAT itself is read a sector at a time, never held whole.
  static CompoundRead Read(ByteSource& source,
                           std::optional<CompoundFile>* file);

  const CompoundLayout& layout() const { return layout_; }
  const std::vector<DirectoryEntry>& entries() const { return entries_; }
  const DirectoryEntry& root() const { return entries_[0]; }

  // The children of the storage (or root) at `index`, ordered by their raw
  // names octet for octet, a name before any longer one it begins.
  EntryList children(uint32_t index) const;

  // The child of the root named `raw_name` (UTF-16LE, no terminator), found
  // as [MS-CFB] 2.6.4 orders a storage's tree (shorter names first, then
  // code point by code point in upper case), from the root's child down:
  // the way Windows opens a stream by name. Only a name whose code points
  // are all ASCII is looked for (see the definition). nullopt when the
  // search ends without it, or finds it in another letter case.
  std::optional<uint32_t> FindInRoot(const uint8_t* raw_name,
                                     size_t size) const;

  // Hands the bytes of the stream at `index` to `sink` in order, reading
  // contiguous sectors as one range. kMalformed when a chain that was whole
  // when read is no longer (the source changed), kReadError when a read
  // fails or the sink stops.
  CompoundStatus Stream(ByteSource& source, uint32_t index,
                        const ChunkSink& sink);

 private:
  friend class CompoundReader;
  CompoundFile() = default;

  // One sector of the FAT or the mini FAT, read when needed.
  struct TableSector {
    uint32_t index = kNoStream;  // which of the table's sectors it holds
    std::vector<uint8_t> bytes;
  };

  // Entry `index` of the FAT, or of the mini FAT when `mini`: kMalformed
  // past the table's end.
  CompoundStatus Next(ByteSource& source, bool mini, uint32_t index,
                      uint32_t* next);
  // Where regular sector `sector` starts in the file.
  uint64_t SectorOffset(uint32_t sector) const {
    return (uint64_t{sector} + 1) << sector_shift_;
  }
  // Where mini sector `sector` starts in the file, when the mini stream has
  // it.
  std::optional<uint64_t> MiniSectorOffset(uint32_t sector) const;
  CompoundStatus StreamRegular(ByteSource& source, const DirectoryEntry& entry,
                               const ChunkSink& sink);
  CompoundStatus StreamMini(ByteSource& source, const DirectoryEntry& entry,
                            const ChunkSink& sink);

  CompoundLayout layout_;
  uint32_t sector_shift_ = 9;
  uint64_t file_size_ = 0;
  std::vector<uint32_t> fat_sectors_;       // the FAT's sectors, in order
  std::vector<uint32_t> mini_fat_sectors_;  // the mini FAT's, in order
  std::vector<uint32_t> mini_stream_sectors_;
  uint64_t mini_stream_size_ = 0;
  std::vector<DirectoryEntry> entries_;
  std::vector<uint32_t> children_;
  TableSector fat_;
  TableSector mini_fat_;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_COMPOUND_FILE_H_

#include "authenticode/compound_file.h"

#include <algorithm>
#include <cstring>

namespace sealprobe {
namespace {

// [MS-CFB] 2.2, the header: its size and its fields' offsets.
constexpr uint8_t kSignature[8] = {0xd0, 0xcf, 0x11, 0xe0,
                                   0xa1, 0xb1, 0x1a, 0xe1};
constexpr size_t kHeaderSize = 512;
constexpr size_t kMajorVersionField = 0x1a;
constexpr size_t kByteOrderField = 0x1c;
constexpr size_t kSectorShiftField = 0x1e;
constexpr size_t kMiniSectorShiftField = 0x20;
constexpr size_t kFatSectorsField = 0x2c;
constexpr size_t kFirstDirectorySectorField = 0x30;
constexpr size_t kMiniStreamCutoffField = 0x38;
constexpr size_t kFirstMiniFatSectorField = 0x3c;
constexpr size_t kFirstDifatSectorField = 0x44;
constexpr size_t kDifatSectorsField = 0x48;
constexpr size_t kHeaderDifatField = 0x4c;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint16_t kLittleEndian = 0xfffe;
// Version 3 has 512-byte sectors, version 4 4 KiB ones; the mini stream's
// are 64 bytes, and holds the streams under 4 KiB.
constexpr uint16_t kMiniSectorShift = 6;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kMiniStreamCutoff = 4096;
// [MS-CFB] 2.1: sector numbers from MAXREGSECT up mark, never locate.
constexpr uint32_t kEndOfChain = 0xfffffffe;

// [MS-CFB] 2.6.1, a directory entry's fields.
constexpr size_t kEntrySize = 128;
constexpr size_t kNameSizeField = 0x40;
constexpr size_t kTypeField = 0x42;
constexpr size_t kLeftField = 0x44;
constexpr size_t kRightField = 0x48;
constexpr size_t kChildField = 0x4c;
constexpr size_t kClsidField = 0x50;
constexpr size_t kStateBitsField = 0x60;
constexpr size_t kCreatedField = 0x64;
constexpr size_t kModifiedField = 0x6c;
constexpr size_t kStartField = 0x74;
constexpr size_t kSizeField = 0x78;
constexpr size_t kMaxNameSize = 64;

uint64_t CeilDiv(uint64_t value, uint64_t unit) {
  return value / unit + (value % unit != 0 ? 1 : 0);
}

// [MS-CFB] 2.6.4's upper case, exact when one side is ASCII: besides
// a-z, only these code points have an upper case below U+0080 (U+0131 and
// U+017F), and every other one stays at U+0080 or above, as do Latin-1's
// upper cases. So an ASCII name compares with any other as Windows would
// compare them.
uint16_t UpperCase(uint16_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xe0 && c <= 0xfe && c != 0xf7)) {
    return static_cast<uint16_t>(c - 0x20);
  }
  switch (c) {
    case 0xb5:
      return 0x39c;
    case 0xff:
      return 0x178;
    case 0x131:
      return 'I';
    case 0x17f:
      return 'S';
    default:
      return c;
  }
}

// [MS-CFB] 2.6.4: a shorter name is less; names of one length compare
// code point by code point in upper case.
int CompareAsStored(const uint8_t* a, size_t a_size, const uint8_t* b,
                    size_t b_size) {
  if (a_size != b_size) return a_size < b_size ? -1 : 1;
  for (size_t i = 0; i + 1 < a_size; i += 2) {
    const uint16_t x = UpperCase(Le16(a + i));
    const uint16_t y = UpperCase(Le16(b + i));
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool RawNameLess(const DirectoryEntry& a, const DirectoryEntry& b) {
  return std::lexicographical_compare(
      a.raw_name(), a.raw_name() + a.raw_name_size(), b.raw_name(),
      b.raw_name() + b.raw_name_size());
}

bool SameRawName(const DirectoryEntry& a, const DirectoryEntry& b) {
  return a.raw_name_size() == b.raw_name_size() &&
         std::memcmp(a.raw_name(), b.raw_name(), a.raw_name_size()) == 0;
}

// A name [MS-CFB] 2.6.1 allows: 1 to 31 UTF-16 code units and a null
// terminator, its size counting it; an earlier null would make the size lie.
bool NameWellFormed(const DirectoryEntry& e) {
  if (e.name_size < 4 || e.name_size > kMaxNameSize || e.name_size % 2 != 0 ||
      Le16(e.name.data() + e.name_size - 2) != 0) {
    return false;
  }
  for (size_t i = 0; i + 2 < e.name_size; i += 2) {
    if (Le16(e.name.data() + i) == 0) return false;
  }
  return true;
}

DirectoryEntry ParseEntry(const uint8_t* p, bool version3) {
  DirectoryEntry e;
  std::memcpy(e.name.data(), p, e.name.size());
  e.name_size = Le16(p + kNameSizeField);
  e.type = static_cast<EntryType>(p[kTypeField]);
  e.left = Le32(p + kLeftField);
  e.right = Le32(p + kRightField);
  e.child = Le32(p + kChildField);
  std::memcpy(e.clsid.data(), p + kClsidField, e.clsid.size());
  e.state_bits = Le32(p + kStateBitsField);
  std::memcpy(e.created.data(), p + kCreatedField, e.created.size());
  std::memcpy(e.modified.data(), p + kModifiedField, e.modified.size());
  e.start = Le32(p + kStartField);
  e.size = version3 ? Le32(p + kSizeField) : Le64(p + kSizeField);
  return e;
}

}  // namespace

bool StartsAsCompoundFile(ByteSource& source) {
  uint8_t start[sizeof(kSignature)];
  return source.ReadAt(0, start, sizeof(start)) &&
         std::memcmp(start, kSignature, sizeof(kSignature)) == 0;
}

// Builds a CompoundFile from a source, checking each structure before it
// is used, and claiming each sector (and mini sector) for one purpose only.
class CompoundReader {
 public:
  explicit CompoundReader(ByteSource& source) : source_(source) {
    file_.file_size_ = source.size();
  }

  CompoundRead Read(std::optional<CompoundFile>* out) {
    const CompoundStatus status = ReadAll();
    if (status == CompoundStatus::kOk) *out = std::move(file_);
    return {status, fault_, file_.layout_};
  }

  RootClsidRead RootClsid() {
    RootClsidRead result;
    result.status = ReadHeader();
    if (result.status == CompoundStatus::kOk) {
      uint8_t entry[kEntrySize];
      result.status = ReadRootEntry(entry);
      if (result.status == CompoundStatus::kOk) {
        std::memcpy(result.clsid.data(), entry + kClsidField, 16);
      }
    }
    result.fault = fault_;
    return result;
  }

 private:
  using Status = CompoundStatus;

  Status Fail(CompoundFault fault) {
    fault_ = fault;
    return Status::kMalformed;
  }

  Status ReadAll() {
    Status status = ReadHeader();
    if (status == Status::kOk) status = ReadFatSectors();
    if (status == Status::kOk) status = ReadDirectory();
    if (status == Status::kOk) status = WalkTree();
    if (status == Status::kOk) status = ReadMiniStream();
    if (status == Status::kOk) status = WalkStreams();
    return status;
  }

  uint32_t sector_size() const { return file_.layout_.sector_size; }

  // Whether `sector` is one of the file's, and all of it in the file.
  bool WholeSector(uint32_t sector) const {
    return sector < file_.layout_.sectors &&
           source_.Contains(file_.SectorOffset(sector), sector_size());
  }

  // Claims `sector` for one purpose; false when it already has one.
  bool Take(uint32_t sector) {
    if (used_[sector]) return false;
    used_[sector] = true;
    return true;
  }

  Status ReadSector(uint32_t sector, std::vector<uint8_t>* bytes) {
    bytes->resize(sector_size());
    return source_.ReadAt(file_.SectorOffset(sector), bytes->data(),
                          bytes->size())
               ? Status::kOk
               : Status::kReadError;
  }

  Status ReadHeader() {
    uint8_t start[sizeof(kSignature)];
    if (!source_.Contains(0, sizeof(start))) return Status::kNotCompound;
    if (!source_.ReadAt(0, start, sizeof(start))) return Status::kReadError;
    if (std::memcmp(start, kSignature, sizeof(start)) != 0) {
      return Status::kNotCompound;
    }
    if (!source_.Contains(0, kHeaderSize)) return Fail(CompoundFault::kHeader);
    if (!source_.ReadAt(0, header_, kHeaderSize)) return Status::kReadError;
    CompoundLayout& layout = file_.layout_;
    layout.major_version = Le16(header_ + kMajorVersionField);
    const uint16_t shift = Le16(header_ + kSectorShiftField);
    if (Le16(header_ + kByteOrderField) != kLittleEndian ||
        !((layout.major_version == 3 && shift == 9) ||
          (layout.major_version == 4 && shift == 12)) ||
        Le16(header_ + kMiniSectorShiftField) != kMiniSectorShift ||
        Le32(header_ + kMiniStreamCutoffField) != kMiniStreamCutoff) {
      return Fail(CompoundFault::kHeader);
    }
    file_.sector_shift_ = shift;
    layout.sector_size = uint32_t{1} << shift;
    // The header takes the first sector's room; what follows is sectors,
    // the last one possibly cut short.
    const uint64_t size = source_.size();
    layout.sectors =
        size > layout.sector_size
            ? CeilDiv(size - layout.sector_size, layout.sector_size)
            : 0;
    if (layout.sectors > kMaxCompoundSectors) {
      return Fail(CompoundFault::kTooManySectors);
    }
    used_.assign(layout.sectors, false);
    layout.fat_sectors = Le32(header_ + kFatSectorsField);
    layout.difat_sectors = Le32(header_ + kDifatSectorsField);
    if (layout.fat_sectors > layout.sectors ||
        layout.difat_sectors > layout.sectors) {
      return Fail(CompoundFault::kFatLocation);
    }
    return Status::kOk;
  }

  Status ReadRootEntry(uint8_t (&entry)[kEntrySize]) {
    const uint32_t first = Le32(header_ + kFirstDirectorySectorField);
    if (!WholeSector(first)) return Fail(CompoundFault::kBrokenChain);
    if (!source_.ReadAt(file_.SectorOffset(first), entry, kEntrySize)) {
      return Status::kReadError;
    }
    if (entry[kTypeField] != static_cast<uint8_t>(EntryType::kRoot)) {
      return Fail(CompoundFault::kBadTree);
    }
    return Status::kOk;
  }

  // One more of the FAT's sectors, listed at `sector`.
  Status AddFatSector(uint32_t sector) {
    if (!WholeSector(sector)) return Fail(CompoundFault::kFatLocation);
    if (!Take(sector)) return Fail(CompoundFault::kSectorReused);
    file_.fat_sectors_.push_back(sector);
    return Status::kOk;
  }

  // The FAT's sectors: the first 109 listed in the header, the rest in the
  // DIFAT's chain of sectors, each of which ends with the next one's number.
  Status ReadFatSectors() {
    const uint32_t count = file_.layout_.fat_sectors;
    file_.fat_sectors_.reserve(count);
    for (uint32_t i = 0; i < std::min(count, kHeaderDifatEntries); ++i) {
      const Status status =
          AddFatSector(Le32(header_ + kHeaderDifatField + 4 * i));
      if (status != Status::kOk) return status;
    }
    const uint32_t per_sector = sector_size() / 4 - 1;
    uint32_t difat = Le32(header_ + kFirstDifatSectorField);
    std::vector<uint8_t> bytes;
    for (uint32_t d = 0;
         d < file_.layout_.difat_sectors && file_.fat_sectors_.size() < count;
         ++d) {
      if (!WholeSector(difat)) return Fail(CompoundFault::kFatLocation);
      if (!Take(difat)) return Fail(CompoundFault::kSectorReused);
      Status status = ReadSector(difat, &bytes);
      for (uint32_t i = 0; status == Status::kOk && i < per_sector &&
                           file_.fat_sectors_.size() < count;
           ++i) {
        status = AddFatSector(Le32(bytes.data() + 4 * i));
      }
      if (status != Status::kOk) return status;
      difat = Le32(bytes.data() + 4 * per_sector);
    }
    if (file_.fat_sectors_.size() < count) {
      return Fail(CompoundFault::kFatLocation);
    }
    return Status::kOk;
  }

  // A chain of whole sectors from `start` to its end of chain, at most
  // `max` of them, into `out`.
  Status WholeChain(uint32_t start, uint64_t max, CompoundFault over,
                    std::vector<uint32_t>* out) {
    for (uint32_t sector = start; sector != kEndOfChain;) {
      if (out->size() == max) return Fail(over);
      if (!WholeSector(sector)) return Fail(CompoundFault::kBrokenChain);
      if (!Take(sector)) return Fail(CompoundFault::kSectorReused);
      out->push_back(sector);
      const Status status = file_.Next(source_, false, sector, &sector);
      if (status != Status::kOk) return NextFailed(status);
    }
    return Status::kOk;
  }

  Status NextFailed(Status status) {
    return status == Status::kMalformed ? Fail(CompoundFault::kBrokenChain)
                                        : status;
  }

  // The sectors a stream of `size` bytes takes from `start`: as many as
  // its size needs, the bytes it uses of each in the file, into `out`
  // when not null. What the chain holds after them is not its.
  Status StreamChain(uint32_t start, uint64_t size,
                     std::vector<uint32_t>* out) {
    uint32_t sector = start;
    for (uint64_t at = 0; at < size; at += sector_size()) {
      const uint64_t used = std::min<uint64_t>(sector_size(), size - at);
      if (sector >= file_.layout_.sectors ||
          !source_.Contains(file_.SectorOffset(sector), used)) {
        return Fail(CompoundFault::kBrokenChain);
      }
      if (!Take(sector)) return Fail(CompoundFault::kSectorReused);
      if (out != nullptr) out->push_back(sector);
      if (at + used < size) {
        const Status status = file_.Next(source_, false, sector, &sector);
        if (status != Status::kOk) return NextFailed(status);
      }
    }
    return Status::kOk;
  }

  // The same in the mini stream, for a stream under the cutoff.
  Status MiniChain(uint32_t start, uint64_t size) {
    uint32_t sector = start;
    for (uint64_t at = 0; at < size; at += kMiniSectorSize) {
      const uint64_t used = std::min<uint64_t>(kMiniSectorSize, size - at);
      if (sector >= mini_used_.size() ||
          uint64_t{sector} * kMiniSectorSize + used > file_.mini_stream_size_) {
        return Fail(CompoundFault::kBrokenChain);
      }
      if (mini_used_[sector]) return Fail(CompoundFault::kSectorReused);
      mini_used_[sector] = true;
      if (at + used < size) {
        const Status status = file_.Next(source_, true, sector, &sector);
        if (status != Status::kOk) return NextFailed(status);
      }
    }
    return Status::kOk;
  }

  Status ReadDirectory() {
    const uint32_t per_sector = sector_size() / kEntrySize;
    std::vector<uint32_t> sectors;
    Status status = WholeChain(Le32(header_ + kFirstDirectorySectorField),
                               kMaxDirectoryEntries / per_sector,
                               CompoundFault::kTooManyEntries, &sectors);
    std::vector<uint8_t> bytes;
    const bool version3 = file_.layout_.major_version == 3;
    file_.entries_.reserve(sectors.size() * per_sector);
    for (size_t i = 0; status == Status::kOk && i < sectors.size(); ++i) {
      status = ReadSector(sectors[i], &bytes);
      for (uint32_t e = 0; status == Status::kOk && e < per_sector; ++e) {
        file_.entries_.push_back(
            ParseEntry(bytes.data() + e * kEntrySize, version3));
      }
    }
    file_.layout_.directory_entries =
        static_cast<uint32_t>(file_.entries_.size());
    return status;
  }

  // An entry reached from the root: a storage or a stream, well named,
  // a stream no larger than the file and childless.
  Status CheckEntry(const DirectoryEntry& e) {
    if ((e.type != EntryType::kStorage && e.type != EntryType::kStream) ||
        !NameWellFormed(e) ||
        (e.type == EntryType::kStream && e.size > source_.size())) {
      return Fail(CompoundFault::kBadEntry);
    }
    if (e.type == EntryType::kStream && e.child != kNoStream) {
      return Fail(CompoundFault::kBadTree);
    }
    return Status::kOk;
  }

  // The children of the storage at `storage`: its child's tree of siblings,
  // walked with a stack of its own, each entry reached once in the whole
  // directory. Storages found are appended to `storages`.
  Status CollectChildren(uint32_t storage, std::vector<bool>* reached,
                         std::vector<uint32_t>* storages) {
    std::vector<DirectoryEntry>& entries = file_.entries_;
    const size_t begin = file_.children_.size();
    pending_.assign(1, entries[storage].child);
    while (!pending_.empty()) {
      const uint32_t id = pending_.back();
      pending_.pop_back();
      if (id == kNoStream) continue;
      if (id >= entries.size()) return Fail(CompoundFault::kBadEntry);
      if ((*reached)[id]) return Fail(CompoundFault::kBadTree);
      (*reached)[id] = true;
      const Status status = CheckEntry(entries[id]);
      if (status != Status::kOk) return status;
      file_.children_.push_back(id);
      pending_.push_back(entries[id].left);
      pending_.push_back(entries[id].right);
      if (entries[id].type == EntryType::kStorage) {
        storages->push_back(id);
        ++file_.layout_.storages;
      } else {
        ++file_.layout_.streams;
      }
    }
    uint32_t* first = file_.children_.data() + begin;
    uint32_t* last = file_.children_.data() + file_.children_.size();
    const auto by_name = [&](uint32_t a, uint32_t b) {
      return RawNameLess(entries[a], entries[b]);
    };
    std::sort(first, last, by_name);
    if (std::adjacent_find(first, last, [&](uint32_t a, uint32_t b) {
          return SameRawName(entries[a], entries[b]);
        }) != last) {
      return Fail(CompoundFault::kDuplicateName);
    }
    entries[storage].children_begin = static_cast<uint32_t>(begin);
    entries[storage].children_count = static_cast<uint32_t>(last - first);
    return Status::kOk;
  }

  // Every storage from the root down, breadth first, without recursion.
  Status WalkTree() {
    const std::vector<DirectoryEntry>& entries = file_.entries_;
    if (entries.empty() || entries[0].type != EntryType::kRoot) {
      return Fail(CompoundFault::kBadTree);
    }
    file_.layout_.root_clsid = entries[0].clsid;
    std::vector<bool> reached(entries.size(), false);
    reached[0] = true;
    std::vector<uint32_t> storages = {0};
    for (size_t i = 0; i < storages.size(); ++i) {
      const Status status = CollectChildren(storages[i], &reached, &storages);
      if (status != Status::kOk) return status;
    }
    return Status::kOk;
  }

  // The mini stream, the root's own stream, and the mini FAT's chain.
  Status ReadMiniStream() {
    const DirectoryEntry& root = file_.entries_[0];
    file_.mini_stream_size_ = root.size;
    if (CeilDiv(root.size, kMiniSectorSize) > kMaxMiniSectors) {
      return Fail(CompoundFault::kTooManyMiniSectors);
    }
    mini_used_.assign(CeilDiv(root.size, kMiniSectorSize), false);
    Status status =
        StreamChain(root.start, root.size, &file_.mini_stream_sectors_);
    if (status != Status::kOk) return status;
    status = WholeChain(Le32(header_ + kFirstMiniFatSectorField),
                        kMaxMiniSectors / (sector_size() / 4),
                        CompoundFault::kTooManyMiniSectors,
                        &file_.mini_fat_sectors_);
    file_.layout_.mini_fat_sectors =
        static_cast<uint32_t>(file_.mini_fat_sectors_.size());
    return status;
  }

  // Every stream's chain, whole and its own.
  Status WalkStreams() {
    for (const uint32_t id : file_.children_) {
      const DirectoryEntry& e = file_.entries_[id];
      if (e.type != EntryType::kStream || e.size == 0) continue;
      const Status status = e.size < kMiniStreamCutoff
                                ? MiniChain(e.start, e.size)
                                : StreamChain(e.start, e.size, nullptr);
      if (status != Status::kOk) return status;
    }
    return Status::kOk;
  }

  ByteSource& source_;
  CompoundFile file_;
  CompoundFault fault_ = CompoundFault::kNone;
  uint8_t header_[kHeaderSize] = {};
  std::vector<bool> used_;       // per sector
  std::vector<bool> mini_used_;  // per mini sector
  std::vector<uint32_t> pending_;
};

RootClsidRead ReadRootClsid(ByteSource& source) {
  return CompoundReader(source).RootClsid();
}

CompoundRead CompoundFile::Read(ByteSource& source,
                                std::optional<CompoundFile>* file) {
  return CompoundReader(source).Read(file);
}

EntryList CompoundFile::children(uint32_t index) const {
  const DirectoryEntry& e = entries_.at(index);
  const uint32_t* first = children_.data() + e.children_begin;
  return {first, first + e.children_count};
}

std::optional<uint32_t> CompoundFile::FindInRoot(const uint8_t* raw_name,
                                                 size_t size) const {
  for (size_t i = 0; i + 1 < size; i += 2) {
    if (Le16(raw_name + i) >= 0x80) return std::nullopt;
  }
  // The tree was walked whole when read: every step goes down it.
  uint32_t id = root().child;
  while (id != kNoStream) {
    const DirectoryEntry& e = entries_[id];
    const int order =
        CompareAsStored(raw_name, size, e.raw_name(), e.raw_name_size());
    if (order == 0) {
      const bool same = std::memcmp(raw_name, e.raw_name(), size) == 0;
      return same ? std::optional<uint32_t>(id) : std::nullopt;
    }
    id = order < 0 ? e.left : e.right;
  }
  return std::nullopt;
}

CompoundStatus CompoundFile::Next(ByteSource& source, bool mini, uint32_t index,
                                  uint32_t* next) {
  const std::vector<uint32_t>& sectors =
      mini ? mini_fat_sectors_ : fat_sectors_;
  TableSector& table = mini ? mini_fat_ : fat_;
  const uint32_t which = index >> (sector_shift_ - 2);
  if (which >= sectors.size()) return CompoundStatus::kMalformed;
  if (table.index != which) {
    table.bytes.resize(size_t{1} << sector_shift_);
    table.index = kNoStream;
    if (!source.ReadAt(SectorOffset(sectors[which]), table.bytes.data(),
                       table.bytes.size())) {
      return CompoundStatus::kReadError;
    }
    table.index = which;
  }
  const uint32_t mask = (uint32_t{1} << (sector_shift_ - 2)) - 1;
  *next = Le32(table.bytes.data() + 4 * (index & mask));
  return CompoundStatus::kOk;
}

std::optional<uint64_t> CompoundFile::MiniSectorOffset(uint32_t sector) const {
  const uint64_t at = uint64_t{sector} * kMiniSectorSize;
  const uint64_t which = at >> sector_shift_;
  if (at >= mini_stream_size_ || which >= mini_stream_sectors_.size()) {
    return std::nullopt;
  }
  const uint64_t within = at & ((uint64_t{1} << sector_shift_) - 1);
  return SectorOffset(mini_stream_sectors_[which]) + within;
}

CompoundStatus CompoundFile::Stream(ByteSource& source, uint32_t index,
                                    const ChunkSink& sink) {
  if (index >= entries_.size()) return CompoundStatus::kMalformed;
  const DirectoryEntry& e = entries_[index];
  if (e.type != EntryType::kStream || e.size == 0) return CompoundStatus::kOk;
  return e.size < kMiniStreamCutoff ? StreamMini(source, e, sink)
                                    : StreamRegular(source, e, sink);
}

CompoundStatus CompoundFile::StreamRegular(ByteSource& source,
                                           const DirectoryEntry& e,
                                           const ChunkSink& sink) {
  const uint64_t sector_size = uint64_t{1} << sector_shift_;
  uint64_t run_offset = 0;
  uint64_t run_size = 0;
  const auto flush = [&] {
    if (run_size == 0) return CompoundStatus::kOk;
    if (!source.Contains(run_offset, run_size)) {
      return CompoundStatus::kMalformed;
    }
    return source.Stream(run_offset, run_size, sink)
               ? CompoundStatus::kOk
               : CompoundStatus::kReadError;
  };
  uint32_t sector = e.start;
  for (uint64_t at = 0; at < e.size; at += sector_size) {
    if (sector >= layout_.sectors) return CompoundStatus::kMalformed;
    const uint64_t used = std::min(sector_size, e.size - at);
    const uint64_t offset = SectorOffset(sector);
    if (run_size != 0 && run_offset + run_size == offset) {
      run_size += used;
    } else {
      const CompoundStatus status = flush();
      if (status != CompoundStatus::kOk) return status;
      run_offset = offset;
      run_size = used;
    }
    if (at + used < e.size) {
      const CompoundStatus status = Next(source, false, sector, &sector);
      if (status != CompoundStatus::kOk) return status;
    }
  }
  return flush();
}

CompoundStatus CompoundFile::StreamMini(ByteSource& source,
                                        const DirectoryEntry& e,
                                        const ChunkSink& sink) {
  uint8_t bytes[kMiniStreamCutoff];
  uint32_t sector = e.start;
  for (uint64_t at = 0; at < e.size; at += kMiniSectorSize) {
    const uint64_t used = std::min<uint64_t>(kMiniSectorSize, e.size - at);
    const std::optional<uint64_t> offset = MiniSectorOffset(sector);
    if (!offset || !source.Contains(*offset, used)) {
      return CompoundStatus::kMalformed;
    }
    if (!source.ReadAt(*offset, bytes + at, used)) {
      return CompoundStatus::kReadError;
    }
    if (at + used < e.size) {
      const CompoundStatus status = Next(source, true, sector, &sector);
      if (status != CompoundStatus::kOk) return status;
    }
  }
  return sink(bytes, e.size) ? CompoundStatus::kOk : CompoundStatus::kReadError;
}

}  // namespace sealprobe

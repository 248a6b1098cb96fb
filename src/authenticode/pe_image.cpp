#include "authenticode/pe_image.h"

#include <algorithm>
#include <optional>

namespace sealprobe {
namespace {

// Layout constants of the PE format, as offsets relative to the structure
// they belong to.
constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kLfanewOffset = 0x3c;        // in the DOS header
constexpr uint64_t kPeSignatureSize = 4;        // "PE\0\0"
constexpr uint64_t kCoffHeaderSize = 20;        // after the signature
constexpr uint64_t kMachine = 0;                // in the COFF header, 2 bytes
constexpr uint64_t kNumberOfSections = 2;       // in the COFF header, 2 bytes
constexpr uint64_t kSizeOfOptionalHeader = 16;  // in the COFF header, 2 bytes
constexpr uint64_t kMagicSize = 2;  // the optional header's first field
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint64_t kChecksumField = 64;  // in the optional header
constexpr uint64_t kChecksumSize = 4;
constexpr uint64_t kSizeOfHeadersField = 60;  // in the optional header
// Where the data directory starts in the optional header: after the fixed
// fields, NumberOfRvaAndSizes (4 bytes) the last of them.
constexpr uint64_t kPe32DataDirectory = 96;
constexpr uint64_t kPe32PlusDataDirectory = 112;
constexpr uint64_t kNumberOfRvaAndSizesSize = 4;
constexpr uint64_t kCertDirectoryIndex = 4;
constexpr uint64_t kDirectoryEntrySize = 8;  // VirtualAddress, Size
constexpr uint64_t kDirectorySizeField = 4;  // in a directory entry
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSizeOfRawData = 16;     // in a section header
constexpr uint64_t kPointerToRawData = 20;  // in a section header
// WIN_CERTIFICATE: dwLength (4 bytes), wRevision, wCertificateType.
constexpr uint64_t kWinCertHeaderSize = 8;
constexpr uint64_t kWinCertRevisionField = 4;
constexpr uint64_t kWinCertTypeField = 6;
constexpr uint16_t kWinCertRevision2 = 0x0200;
constexpr uint16_t kWinCertTypePkcsSignedData = 0x0002;

// Reads `N` bytes at `offset`: kNotPe when the range is not in the source
// (headers that do not fit make no PE), kReadError when the read fails.
template <size_t N>
PeStatus ReadFixed(ByteSource& source, uint64_t offset, uint8_t (&out)[N]) {
  if (!source.Contains(offset, N)) return PeStatus::kNotPe;
  return source.ReadAt(offset, out, N) ? PeStatus::kOk : PeStatus::kReadError;
}

PeParseResult NotPe() { return {PeStatus::kNotPe, {}}; }
PeParseResult ReadError() { return {PeStatus::kReadError, {}}; }

// Extends image->data_end over the raw data of the `section_count` sections
// whose table is at `table_offset`, reading it in batches.
PeStatus ScanSections(ByteSource& source, uint64_t table_offset,
                      uint16_t section_count, PeImage* image) {
  constexpr uint32_t kBatch = 64;
  uint8_t batch[kBatch * kSectionHeaderSize];
  // 32-bit counter: a 16-bit one would wrap before passing 65535 sections.
  for (uint32_t first = 0; first < section_count; first += kBatch) {
    const uint32_t count = std::min<uint32_t>(kBatch, section_count - first);
    const uint64_t offset = table_offset + first * kSectionHeaderSize;
    if (!source.ReadAt(offset, batch, count * kSectionHeaderSize)) {
      return PeStatus::kReadError;
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* header = batch + i * kSectionHeaderSize;
      const uint64_t raw_size = Le32(header + kSizeOfRawData);
      const uint64_t raw_offset = Le32(header + kPointerToRawData);
      // 64-bit arithmetic: two 32-bit fields cannot overflow it.
      if (raw_size != 0) {
        image->data_end = std::max(image->data_end, raw_offset + raw_size);
      }
    }
  }
  return PeStatus::kOk;
}

// Where `image`'s certificate table is, when it is one ReadSignatureEntry
// reads: non-empty, from image.data_end or later to the end of the file,
// with room for an entry's header.
std::optional<ByteRange> CertificateTable(const ByteSource& source,
                                          const PeImage& image) {
  if (!image.has_cert_entry || image.cert_table_offset == 0 ||
      image.cert_table_size == 0) {
    return std::nullopt;
  }
  const uint64_t table = image.cert_table_offset;
  const uint64_t table_size = image.cert_table_size;
  // In 64 bits the sum of two 32-bit fields is exact; a table that wraps
  // around in 32 bits lands past the end of any file we can be given.
  if (table < image.data_end || table + table_size != source.size() ||
      table_size < kWinCertHeaderSize) {
    return std::nullopt;
  }
  return ByteRange{table, table_size};
}

struct EntryHeader {
  SignatureStatus status = SignatureStatus::kNoSignature;
  uint32_t length = 0;  // dwLength, with kOk
};

// The header of the entry at `at` of a table that ends at `end`: kOk when
// it is a signature's, of revision 2.0, and its dwLength counts at least
// the header and fits before `end`.
EntryHeader ReadEntryHeader(ByteSource& source, uint64_t at, uint64_t end) {
  if (at > end || end - at < kWinCertHeaderSize) return {};
  uint8_t header[kWinCertHeaderSize];
  if (!source.ReadAt(at, header, sizeof(header))) {
    return {SignatureStatus::kReadError, 0};
  }
  const uint32_t length = Le32(header);
  if (Le16(header + kWinCertRevisionField) != kWinCertRevision2 ||
      Le16(header + kWinCertTypeField) != kWinCertTypePkcsSignedData ||
      length < kWinCertHeaderSize || length > end - at) {
    return {};
  }
  return {SignatureStatus::kOk, length};
}

// The payload of the entry at `at`, whose header ReadEntryHeader read as
// `length` long.
SignatureEntry ReadEntryPayload(ByteSource& source, uint64_t at,
                                uint32_t length) {
  const uint32_t payload = length - static_cast<uint32_t>(kWinCertHeaderSize);
  if (payload > kMaxSignatureSize) return {SignatureStatus::kTooLarge, {}};
  SignatureEntry entry{SignatureStatus::kOk, std::vector<uint8_t>(payload)};
  if (!source.ReadAt(at + kWinCertHeaderSize, entry.pkcs7.data(), payload)) {
    return {SignatureStatus::kReadError, {}};
  }
  return entry;
}

}  // namespace

PeParseResult ParsePeImage(ByteSource& source) {
  uint8_t dos[kDosHeaderSize];
  if (const PeStatus read = ReadFixed(source, 0, dos); read != PeStatus::kOk) {
    return {read, {}};
  }
  if (dos[0] != 'M' || dos[1] != 'Z') return NotPe();
  const uint64_t pe_offset = Le32(dos + kLfanewOffset);

  // The signature, the COFF header and the optional header's magic.
  uint8_t nt[kPeSignatureSize + kCoffHeaderSize + kMagicSize];
  if (const PeStatus read = ReadFixed(source, pe_offset, nt);
      read != PeStatus::kOk) {
    return {read, {}};
  }
  if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return NotPe();
  const uint8_t* coff = nt + kPeSignatureSize;
  const uint16_t magic = Le16(coff + kCoffHeaderSize);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return NotPe();

  PeImage image;
  image.pe32_plus = magic == kPe32PlusMagic;
  image.machine = Le16(coff + kMachine);
  const uint16_t section_count = Le16(coff + kNumberOfSections);
  const uint64_t optional_size = Le16(coff + kSizeOfOptionalHeader);
  const uint64_t optional_offset =
      pe_offset + kPeSignatureSize + kCoffHeaderSize;
  const uint64_t directory_offset =
      magic == kPe32PlusMagic ? kPe32PlusDataDirectory : kPe32DataDirectory;
  // The fixed fields, NumberOfRvaAndSizes the last of them, must be there.
  if (optional_size < directory_offset) return NotPe();
  const uint64_t section_table = optional_offset + optional_size;
  const uint64_t section_table_size = section_count * kSectionHeaderSize;
  if (!source.Contains(optional_offset, optional_size) ||
      !source.Contains(section_table, section_table_size)) {
    return NotPe();
  }

  // The optional header's fixed part and the certificate-table entry when
  // the header is long enough to hold it.
  uint8_t optional[kPe32PlusDataDirectory +
                   (kCertDirectoryIndex + 1) * kDirectoryEntrySize] = {};
  const uint64_t wanted = std::min<uint64_t>(optional_size, sizeof(optional));
  if (!source.ReadAt(optional_offset, optional, wanted)) return ReadError();

  image.checksum_offset = optional_offset + kChecksumField;
  const uint32_t directory_count =
      Le32(optional + directory_offset - kNumberOfRvaAndSizesSize);
  const uint64_t entry_in_header =
      directory_offset + kCertDirectoryIndex * kDirectoryEntrySize;
  if (directory_count > kCertDirectoryIndex &&
      optional_size >= entry_in_header + kDirectoryEntrySize) {
    image.has_cert_entry = true;
    image.cert_entry_offset = optional_offset + entry_in_header;
    image.cert_table_offset = Le32(optional + entry_in_header);
    image.cert_table_size =
        Le32(optional + entry_in_header + kDirectorySizeField);
  }

  image.data_end = std::max<uint64_t>(section_table + section_table_size,
                                      Le32(optional + kSizeOfHeadersField));
  const PeStatus sections =
      ScanSections(source, section_table, section_count, &image);
  if (sections != PeStatus::kOk) return {sections, {}};
  return {PeStatus::kOk, image};
}

SignatureEntry ReadSignatureEntry(ByteSource& source, const PeImage& image) {
  const std::optional<ByteRange> table = CertificateTable(source, image);
  if (!table) return {SignatureStatus::kNoSignature, {}};
  const EntryHeader first =
      ReadEntryHeader(source, table->offset, table->offset + table->size);
  if (first.status != SignatureStatus::kOk) return {first.status, {}};
  return ReadEntryPayload(source, table->offset, first.length);
}

std::vector<SignatureEntry> ReadLaterSignatureEntries(ByteSource& source,
                                                      const PeImage& image) {
  std::vector<SignatureEntry> entries;
  const std::optional<ByteRange> table = CertificateTable(source, image);
  if (!table) return entries;
  const uint64_t end = table->offset + table->size;
  uint64_t at = table->offset;
  // The first entry's payload is ReadSignatureEntry's: only its length
  // matters here.
  EntryHeader header = ReadEntryHeader(source, at, end);
  uint64_t held = 0;  // the payloads read so far
  while (header.status == SignatureStatus::kOk) {
    // Entries are 8-byte aligned. `at` and a 32-bit length stay far from
    // overflowing 64 bits.
    at += (uint64_t{header.length} + 7) & ~uint64_t{7};
    if (at >= end) break;
    header = ReadEntryHeader(source, at, end);
    if (header.status == SignatureStatus::kNoSignature) break;
    if (header.status == SignatureStatus::kReadError) {
      entries.push_back({SignatureStatus::kReadError, {}});
      break;
    }
    // One entry past the caps stands for all that are left, as an entry
    // too large: left out, they could not fail a check of every signature.
    held += header.length - kWinCertHeaderSize;
    if (entries.size() + 1 == kMaxSignatureEntries ||
        held > kMaxSignatureSize) {
      entries.push_back({SignatureStatus::kTooLarge, {}});
      break;
    }
    entries.push_back(ReadEntryPayload(source, at, header.length));
    if (entries.back().status == SignatureStatus::kReadError) break;
  }
  return entries;
}

std::array<ByteRange, 3> ImageHashRanges(const PeImage& image) {
  const uint64_t checksum_end = image.checksum_offset + kChecksumSize;
  const uint64_t entry_end = image.cert_entry_offset + kDirectoryEntrySize;
  const uint64_t table = std::max<uint64_t>(image.cert_table_offset, entry_end);
  return {{
      {0, image.checksum_offset},
      {checksum_end, image.cert_entry_offset - checksum_end},
      {entry_end, table - entry_end},
  }};
}

}  // namespace sealprobe

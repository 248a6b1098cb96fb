// The parts of a PE32 or PE32+ image that Authenticode needs: where the
// checksum and the certificate-table directory entry sit, where the
// certificate table is, and the signature it starts with. Reads untrusted
// bytes: every read is bounds-checked against the source, every field read
// little-endian, every offset and size from the file checked for overflow.
#ifndef SEALPROBE_AUTHENTICODE_PE_IMAGE_H_
#define SEALPROBE_AUTHENTICODE_PE_IMAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "authenticode/byte_source.h"

namespace sealprobe {

struct ByteRange {
  uint64_t offset = 0;
  uint64_t size = 0;
};

struct PeImage {
  bool pe32_plus = false;  // PE32+ rather than PE32
  uint16_t machine = 0;    // the COFF header's Machine
  // File offset of the optional header's CheckSum field (4 bytes).
  uint64_t checksum_offset = 0;
  // Whether the data directory has the certificate-table entry (index 4);
  // without it the image cannot carry a signature.
  bool has_cert_entry = false;
  // File offset of that 8-byte entry, when present.
  uint64_t cert_entry_offset = 0;
  // The entry's fields: for this directory a file offset, not an RVA.
  uint32_t cert_table_offset = 0;
  uint32_t cert_table_size = 0;
  // Where the headers (SizeOfHeaders, the section table) and the raw data
  // of every section end: a certificate table must not start before it.
  uint64_t data_end = 0;
};

enum class PeStatus {
  kOk,
  kNotPe,      // no MZ, no PE signature, unknown optional-header magic, or
               // headers that do not fit in the file
  kReadError,  // the source failed to read a range it contains
};

struct PeParseResult {
  PeStatus status = PeStatus::kNotPe;
  PeImage image;  // meaningful only with kOk
};

PeParseResult ParsePeImage(ByteSource& source);

enum class SignatureStatus {
  kOk,
  kNoSignature,  // no table, or a table or first entry that is malformed
  kTooLarge,     // a well-formed first entry larger than kMaxSignatureSize
  kReadError,
};

struct SignatureEntry {
  SignatureStatus status = SignatureStatus::kNoSignature;
  // The first WIN_CERTIFICATE's payload (dwLength - 8 bytes), with kOk: a
  // PKCS#7 SignedData, possibly followed by alignment padding.
  std::vector<uint8_t> pkcs7;
};

// The largest first-entry payload read into memory: the only part of a file
// held whole. Far beyond any real signature; SHA-256 page hashes of a 1 GiB
// image take about 9 MiB.
inline constexpr uint32_t kMaxSignatureSize = 16u * 1024 * 1024;

// Reads the first entry of `image`'s certificate table. The table must be
// non-empty, start at or after image.data_end and end exactly at the end of
// the file; its first entry must be a WIN_CERT_TYPE_PKCS_SIGNED_DATA of
// revision 2.0 whose dwLength (header included) is at least 8 and fits in
// the table. Later entries are not looked at.
SignatureEntry ReadSignatureEntry(ByteSource& source, const PeImage& image);

// The most entries of a certificate table read, the first included.
inline constexpr size_t kMaxSignatureEntries = 16;

// Reads the entries after the first of `image`'s certificate table, when
// the table and its first entry's header are what ReadSignatureEntry
// requires (its payload may be over kMaxSignatureSize). Each entry starts
// where the one before it ends, rounded up to 8 bytes, and is read as the
// first is: the entries end at the first that is not a
// WIN_CERT_TYPE_PKCS_SIGNED_DATA of revision 2.0 whose dwLength is at
// least 8 and fits in what is left of the table, at the end of the table,
// after a read error (the last entry, kReadError), or after
// kMaxSignatureEntries - 1 entries, with one more, kTooLarge, standing for
// the rest when more follow; so is the entry that takes the payloads read
// past kMaxSignatureSize in all, which ends them too.
std::vector<SignatureEntry> ReadLaterSignatureEntries(ByteSource& source,
                                                      const PeImage& image);

// The ranges the Authenticode image hash covers, in order: the file from
// the start to the certificate table, less the CheckSum field and the
// certificate-table directory entry. Only for an image whose
// ReadSignatureEntry returned kOk.
std::array<ByteRange, 3> ImageHashRanges(const PeImage& image);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_PE_IMAGE_H_

#include "explain/decide/file_kind.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "authenticode/compound_file.h"
#include "authenticode/msi_package.h"

namespace sealprobe {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMz[] = {'M', 'Z'};
// A cabinet's signature and its first reserved field ([MS-CAB] 2.1).
constexpr uint8_t kCabinet[] = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
// A ZIP archive's local file header.
constexpr uint8_t kZip[] = {'P', 'K', 3, 4};
// The object identifiers a catalog's ContentInfo names, whole: signedData
// (1.2.840.113549.1.7.2), and szOID_CTL (1.3.6.1.4.1.311.10.1) as the
// content type of its SignedData.
constexpr uint8_t kSignedDataOid[] = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                      0xf7, 0x0d, 0x01, 0x07, 0x02};
constexpr uint8_t kTrustListOid[] = {0x06, 0x09, 0x2b, 0x06, 0x01, 0x04,
                                     0x01, 0x82, 0x37, 0x0a, 0x01};

// The ends of the signature blocks Windows' script SIPs write: PowerShell's
// (after "# ", "<!-- " or "/* "), VBScript's and JScript's.
constexpr const char* kSignatureBlockEnds[] = {
    "SIG # End signature block",
    "'' SIG '' End signature block",
    "// SIG // End signature block",
};

// Names an MSIX or APPX package (or bundle) holds besides its payload
// (APPX_FOOTPRINT_FILE_TYPE), which its ZIP directory, at the end, lists.
constexpr const char* kAppFootprint[] = {
    "AppxManifest.xml",
    "AppxBlockMap.xml",
    "AppxSignature.p7x",
    "AppxBundleManifest.xml",
};

// The first kContentProbeBytes of `source`, or its last ones when
// `from_end`; nothing when the read fails.
std::optional<Bytes> ReadEnd(ByteSource& source, bool from_end) {
  const uint64_t size =
      std::min<uint64_t>(source.size(), uint64_t{kContentProbeBytes});
  Bytes bytes(static_cast<size_t>(size));
  const uint64_t at = from_end ? source.size() - size : 0;
  if (size != 0 && !source.ReadAt(at, bytes.data(), bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

template <size_t N>
bool StartsWith(const Bytes& bytes, const uint8_t (&prefix)[N]) {
  return bytes.size() >= N && std::memcmp(bytes.data(), prefix, N) == 0;
}

bool Holds(const Bytes& bytes, const Bytes& needle) {
  return std::search(bytes.begin(), bytes.end(), needle.begin(),
                     needle.end()) != bytes.end();
}

// `text` (ASCII) as its octets, and in UTF-16 little- and big-endian.
std::vector<Bytes> Encodings(const std::string& text) {
  std::vector<Bytes> forms(3);
  for (const char c : text) {
    const auto octet = static_cast<uint8_t>(c);
    forms[0].push_back(octet);
    forms[1].insert(forms[1].end(), {octet, 0});
    forms[2].insert(forms[2].end(), {0, octet});
  }
  return forms;
}

// The header of the DER element at `*at` in `bytes`, which must have `tag`
// and a definite length; its contents may run past `bytes`. `*at` moves to
// its contents.
bool Enter(const Bytes& bytes, size_t* at, uint8_t tag, uint64_t* length) {
  if (bytes.size() - *at < 2 || bytes[*at] != tag) return false;
  uint64_t value = bytes[*at + 1];
  size_t header = 2;
  if (value & 0x80) {
    const size_t octets = value & 0x7f;
    if (octets == 0 || octets > 4 || bytes.size() - *at - 2 < octets) {
      return false;
    }
    value = 0;
    for (size_t i = 0; i < octets; ++i) value = value << 8 | bytes[*at + 2 + i];
    header += octets;
  }
  *at += header;
  *length = value;
  return true;
}

// Moves `*at` past the DER element there, which must have `tag` and lie in
// `bytes` whole.
bool Skip(const Bytes& bytes, size_t* at, uint8_t tag) {
  uint64_t length = 0;
  if (!Enter(bytes, at, tag, &length) || length > bytes.size() - *at) {
    return false;
  }
  *at += static_cast<size_t>(length);
  return true;
}

// Whether the element at `*at` is `element`, octet for octet; `*at` moves
// past it.
template <size_t N>
bool Match(const Bytes& bytes, size_t* at, const uint8_t (&element)[N]) {
  if (bytes.size() - *at < N || std::memcmp(&bytes[*at], element, N) != 0) {
    return false;
  }
  *at += N;
  return true;
}

// ContentInfo { signedData, [0] SignedData { version, digestAlgorithms,
// ContentInfo { szOID_CTL, ... } ... } }: the start of every catalog,
// read from its header alone.
bool IsTrustListMessage(const Bytes& head) {
  size_t at = 0;
  uint64_t length = 0;
  return Enter(head, &at, 0x30, &length) && Match(head, &at, kSignedDataOid) &&
         Enter(head, &at, 0xa0, &length) && Enter(head, &at, 0x30, &length) &&
         Skip(head, &at, 0x02) && Skip(head, &at, 0x31) &&
         Enter(head, &at, 0x30, &length) && Match(head, &at, kTrustListOid);
}

bool IsAppPackage(const Bytes& head, const Bytes& tail) {
  if (!StartsWith(head, kZip)) return false;
  for (const char* name : kAppFootprint) {
    const Bytes needle(name, name + std::strlen(name));
    if (Holds(head, needle) || Holds(tail, needle)) return true;
  }
  return false;
}

bool EndsInSignatureBlock(const Bytes& tail) {
  for (const char* end : kSignatureBlockEnds) {
    for (const Bytes& form : Encodings(end)) {
      if (Holds(tail, form)) return true;
    }
  }
  return false;
}

// A compound file's kind, by its root's class.
std::optional<FileKind> KindOfCompoundFile(ByteSource& source) {
  const RootClsidRead root = ReadRootClsid(source);
  switch (root.status) {
    case CompoundStatus::kOk:
      return IsInstallerClsid(root.clsid) ? FileKind::kInstaller
                                          : FileKind::kCompoundFile;
    case CompoundStatus::kReadError:
      return std::nullopt;
    case CompoundStatus::kNotCompound:
    case CompoundStatus::kMalformed:
      break;
  }
  // Whether it is an installer cannot be told; the verifier fails it and
  // says why.
  return FileKind::kInstaller;
}

}  // namespace

bool IsVerified(FileKind kind) {
  return kind == FileKind::kPe || kind == FileKind::kInstaller;
}

bool IsUnsupported(FileKind kind) {
  return !IsVerified(kind) && kind != FileKind::kOther;
}

std::optional<FileKind> KindOfContent(ByteSource& source) {
  const std::optional<Bytes> head = ReadEnd(source, false);
  if (!head) return std::nullopt;
  if (StartsWith(*head, kMz)) return FileKind::kPe;
  if (StartsAsCompoundFile(source)) return KindOfCompoundFile(source);
  if (StartsWith(*head, kCabinet)) return FileKind::kCabinet;
  if (IsTrustListMessage(*head)) return FileKind::kCatalog;
  const std::optional<Bytes> tail =
      source.size() <= kContentProbeBytes ? head : ReadEnd(source, true);
  if (!tail) return std::nullopt;
  if (IsAppPackage(*head, *tail)) return FileKind::kAppPackage;
  if (EndsInSignatureBlock(*tail)) return FileKind::kScript;
  return FileKind::kOther;
}

}  // namespace sealprobe

#include "authenticode/msi_package.h"

#include <cstring>
#include <vector>

namespace sealprobe {
namespace {

// {000C1084-...}, {000C1086-...} and {000C1082-...}, as a CLSID is stored: its
// first three fields little-endian.
constexpr Clsid kPackageClsid = {0x84, 0x10, 0x0c, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0xc0, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kPatchClsid = {0x86, 0x10, 0x0c, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kTransformClsid = {0x82, 0x10, 0x0c, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0xc0, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x46};

// "\x05DigitalSignature" and "\x05MsiDigitalSignatureEx" in UTF-16LE.
constexpr uint8_t kSignatureName[] = {
    5,   0, 'D', 0, 'i', 0, 'g', 0, 'i', 0, 't', 0, 'a', 0, 'l', 0, 'S', 0,
    'i', 0, 'g', 0, 'n', 0, 'a', 0, 't', 0, 'u', 0, 'r', 0, 'e', 0};
constexpr uint8_t kMetadataName[] = {
    5,   0,   'M', 0,   's', 0,   'i', 0,   'D', 0,   'i', 0,   'g', 0,   'i',
    0,   't', 0,   'a', 0,   'l', 0,   'S', 0,   'i', 0,   'g', 0,   'n', 0,
    'a', 0,   't', 0,   'u', 0,   'r', 0,   'e', 0,   'E', 0,   'x', 0};

template <size_t N>
bool Named(const DirectoryEntry& e, const uint8_t (&name)[N]) {
  return e.raw_name_size() == N && std::memcmp(e.raw_name(), name, N) == 0;
}

// Only the root's signature streams are left out of the digests.
bool LeftOut(const DirectoryEntry& e, uint32_t storage) {
  return storage == 0 && (Named(e, kSignatureName) || Named(e, kMetadataName));
}

// A storage being walked: the next of its children to take.
struct Frame {
  uint32_t storage;
  size_t next;
};

bool Feed(const ChunkSink& sink, const void* data, size_t size) {
  return sink(static_cast<const uint8_t*>(data), size);
}

// An entry's metadata as the pre-hash takes it (msi_prehash_dir's
// prehash_metadata in osslsigncode's msi.c): the root has no name and no
// times, a stream no CLSID but the low half of its size.
bool FeedMetadata(const DirectoryEntry& e, const ChunkSink& sink) {
  const bool root = e.type == EntryType::kRoot;
  if (!root && !Feed(sink, e.raw_name(), e.raw_name_size())) return false;
  if (e.type == EntryType::kStream) {
    uint8_t size[4];
    for (int i = 0; i < 4; ++i)
      size[i] = static_cast<uint8_t>(e.size >> (8 * i));
    if (!Feed(sink, size, sizeof(size))) return false;
  } else if (!Feed(sink, e.clsid.data(), e.clsid.size())) {
    return false;
  }
  uint8_t state[4];
  for (int i = 0; i < 4; ++i)
    state[i] = static_cast<uint8_t>(e.state_bits >> (8 * i));
  if (!Feed(sink, state, sizeof(state))) return false;
  return root || (Feed(sink, e.created.data(), e.created.size()) &&
                  Feed(sink, e.modified.data(), e.modified.size()));
}

}  // namespace

bool IsInstallerClsid(const Clsid& clsid) {
  return clsid == kPackageClsid || clsid == kPatchClsid;
}

InstallerClass InstallerClassOf(const Clsid& clsid) {
  if (clsid == kPackageClsid) return InstallerClass::kPackage;
  if (clsid == kPatchClsid) return InstallerClass::kPatch;
  if (clsid == kTransformClsid) return InstallerClass::kTransform;
  return InstallerClass::kNone;
}

std::optional<uint32_t> FindSignatureStream(const CompoundFile& file) {
  return file.FindInRoot(kSignatureName, sizeof(kSignatureName));
}

std::optional<uint32_t> FindMetadataStream(const CompoundFile& file) {
  return file.FindInRoot(kMetadataName, sizeof(kMetadataName));
}

CompoundStatus FeedInstallerContent(CompoundFile& file, ByteSource& source,
                                    const ChunkSink& sink) {
  const std::vector<DirectoryEntry>& entries = file.entries();
  std::vector<Frame> stack = {{0, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    const EntryList children = file.children(top.storage);
    if (top.next == children.size()) {
      const Clsid& clsid = entries[top.storage].clsid;
      if (!Feed(sink, clsid.data(), clsid.size())) {
        return CompoundStatus::kReadError;
      }
      stack.pop_back();
      continue;
    }
    const uint32_t id = children.begin()[top.next++];
    const DirectoryEntry& e = entries[id];
    if (LeftOut(e, top.storage)) continue;
    if (e.type == EntryType::kStorage) {
      stack.push_back({id, 0});
      continue;
    }
    const CompoundStatus status = file.Stream(source, id, sink);
    if (status != CompoundStatus::kOk) return status;
  }
  return CompoundStatus::kOk;
}

bool FeedInstallerMetadata(const CompoundFile& file, const ChunkSink& sink) {
  const std::vector<DirectoryEntry>& entries = file.entries();
  if (!FeedMetadata(file.root(), sink)) return false;
  std::vector<Frame> stack = {{0, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    const EntryList children = file.children(top.storage);
    if (top.next == children.size()) {
      stack.pop_back();
      continue;
    }
    const uint32_t id = children.begin()[top.next++];
    const DirectoryEntry& e = entries[id];
    if (LeftOut(e, top.storage)) continue;
    if (!FeedMetadata(e, sink)) return false;
    if (e.type == EntryType::kStorage) stack.push_back({id, 0});
  }
  return true;
}

}  // namespace sealprobe

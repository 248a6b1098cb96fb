// Fuzzes the compound-file reader and the installer's digest walks over a
// file's bytes in memory: what the verification reads before any
// cryptography. A file the reader takes must stream every stream, and feed
// both digests' bytes, without a chain failing (the bytes did not change);
// the streams together can never hold more than the file, each sector
// being read for one of them at most; its root's CLSID is the one read on
// its own; and a second read of the same bytes decides the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "authenticode/compound_file.h"
#include "authenticode/msi_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using sealprobe::CompoundStatus;
  sealprobe::MemoryByteSource source(data, size);
  std::optional<sealprobe::CompoundFile> file;
  const sealprobe::CompoundRead read =
      sealprobe::CompoundFile::Read(source, &file);
  std::optional<sealprobe::CompoundFile> again;
  if (sealprobe::CompoundFile::Read(source, &again).fault != read.fault ||
      file.has_value() != (read.status == CompoundStatus::kOk)) {
    std::abort();
  }
  if (!file) return 0;
  const sealprobe::RootClsidRead root = sealprobe::ReadRootClsid(source);
  if (root.status != CompoundStatus::kOk ||
      root.clsid != file->layout().root_clsid) {
    std::abort();
  }
  uint64_t streamed = 0;
  const sealprobe::ChunkSink count = [&](const uint8_t*, size_t n) {
    streamed += n;
    return true;
  };
  // Every stream the tree reaches: each storage's children.
  for (uint32_t i = 0; i < file->entries().size(); ++i) {
    for (const uint32_t child : file->children(i)) {
      if (file->entries()[child].type == sealprobe::EntryType::kStream &&
          file->Stream(source, child, count) != CompoundStatus::kOk) {
        std::abort();
      }
    }
  }
  if (streamed > size) std::abort();
  if (sealprobe::FeedInstallerContent(*file, source, count) !=
          CompoundStatus::kOk ||
      !sealprobe::FeedInstallerMetadata(*file, count)) {
    std::abort();
  }
  sealprobe::FindSignatureStream(*file);
  sealprobe::FindMetadataStream(*file);
  return 0;
}

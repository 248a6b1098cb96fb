#include "authenticode/compound_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sealprobe {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint32_t kEnd = 0xfffffffe;
constexpr uint32_t kFree = 0xffffffff;
size_t Sector(uint32_t s) { return (s + 1) * 512u; }
size_t Entry(uint32_t i) { return Sector(1 + i / 4) + 128 * (i % 4); }
constexpr size_t kFat = 512;       // sector 0
constexpr size_t kMiniFat = 2048;  // sector 3

void PutEntry(Bytes& b, uint32_t i, const std::string& name, uint8_t type,
              uint32_t right, uint32_t child, uint32_t start, uint32_t size) {
  const size_t at = Entry(i);
  for (size_t c = 0; c < name.size(); ++c) b[at + 2 * c] = name[c];
  b[at + 0x40] = static_cast<uint8_t>(2 * name.size() + 2);
  b[at + 0x42] = type;
  Put32(b, at + 0x44, kFree);
  Put32(b, at + 0x48, right);
  Put32(b, at + 0x4c, child);
  Put32(b, at + 0x74, start);
  Put32(b, at + 0x78, size);
}

// A version 3 file: FAT in sector 0, the directory in 1 and 2, the mini FAT
// in 3, the mini stream in 4, then "Big" (4096 bytes of 0x42) in 5 to 12.
// The root holds "A" (100 bytes of 0x41, mini sectors 0 and 1), the
// storage "S" holding "T" (10 bytes of 0x54, mini sector 2), and "Big".
Bytes Build() {
  Bytes b(Sector(13), 0);
  const uint8_t signature[] = {0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1};
  std::copy(signature, signature + 8, b.begin());
  const uint8_t fields[] = {0x3e, 0, 3, 0, 0xfe, 0xff, 9, 0, 6, 0};
  std::copy(fields, fields + 10, b.begin() + 0x18);
  const uint32_t header[] = {1, 1, 0, 4096, 3, 1, kEnd, 0, 0};
  for (int i = 0; i < 9; ++i) Put32(b, 0x2c + 4 * i, header[i]);
  for (int i = 1; i < 109; ++i) Put32(b, 0x4c + 4 * i, kFree);
  const uint32_t fat[] = {0xfffffffd, 2, kEnd, kEnd, kEnd, 6,   7,
                          8,          9, 10,   11,   12,   kEnd};
  for (uint32_t i = 0; i < 128; ++i)
    Put32(b, kFat + 4 * i, i < 13 ? fat[i] : kFree);
  for (uint32_t i = 0; i < 128; ++i)
    Put32(b, kMiniFat + 4 * i, i == 0 ? 1 : i < 3 ? kEnd : kFree);
  PutEntry(b, 0, "Root Entry", 5, kFree, 1, 4, 192);
  PutEntry(b, 1, "A", 2, 3, kFree, 0, 100);
  PutEntry(b, 2, "Big", 2, kFree, kFree, 5, 4096);
  PutEntry(b, 3, "S", 1, 2, 4, 0, 0);
  PutEntry(b, 4, "T", 2, kFree, kFree, 2, 10);
  std::fill_n(b.begin() + Sector(4), 100, 'A');
  std::fill_n(b.begin() + Sector(4) + 128, 10, 'T');
  std::fill_n(b.begin() + Sector(5), 4096, 'B');
  return b;
}

CompoundRead ReadBytes(const Bytes& b, std::optional<CompoundFile>* file) {
  MemoryByteSource source(b.data(), b.size());
  return CompoundFile::Read(source, file);
}

TEST(CompoundFileTest, TableOfLayouts) {
  using F = CompoundFault;
  const auto set = [](size_t at, uint32_t v) {
    return [=](Bytes& b) { Put32(b, at, v); };
  };
  const struct {
    const char* name;
    std::function<void(Bytes&)> change;
    CompoundStatus status;
    CompoundFault fault;
  } kCases[] = {
      {"as built", [](Bytes&) {}, CompoundStatus::kOk, F::kNone},
      {"no signature", [](Bytes& b) { b[7] = 0; }, CompoundStatus::kNotCompound,
       F::kNone},
      {"shorter than a header", [](Bytes& b) { b.resize(300); },
       CompoundStatus::kMalformed, F::kHeader},
      {"big-endian", [](Bytes& b) { b[0x1c] = 0xff; },
       CompoundStatus::kMalformed, F::kHeader},
      {"version 4 with 512-byte sectors", [](Bytes& b) { b[0x1a] = 4; },
       CompoundStatus::kMalformed, F::kHeader},
      {"more FAT sectors than the file", set(0x2c, 100),
       CompoundStatus::kMalformed, F::kFatLocation},
      {"a FAT sector past the end", set(0x4c, 13), CompoundStatus::kMalformed,
       F::kFatLocation},
      {"directory chain in a cycle", set(kFat + 8, 1),
       CompoundStatus::kMalformed, F::kSectorReused},
      {"a stream's chain into the directory", set(kFat + 20, 1),
       CompoundStatus::kMalformed, F::kSectorReused},
      {"a stream's chain at a free sector", set(kFat + 24, kFree),
       CompoundStatus::kMalformed, F::kBrokenChain},
      {"a stream longer than its chain", set(Entry(2) + 0x78, 4097),
       CompoundStatus::kMalformed, F::kBrokenChain},
      {"a mini chain in a cycle", set(kMiniFat, 0), CompoundStatus::kMalformed,
       F::kSectorReused},
      {"two streams in one mini sector", set(Entry(4) + 0x74, 1),
       CompoundStatus::kMalformed, F::kSectorReused},
      {"a mini sector past the mini stream", set(Entry(4) + 0x74, 3),
       CompoundStatus::kMalformed, F::kBrokenChain},
      {"a storage inside itself", set(Entry(3) + 0x4c, 3),
       CompoundStatus::kMalformed, F::kBadTree},
      {"a sibling cycle", set(Entry(2) + 0x48, 1), CompoundStatus::kMalformed,
       F::kBadTree},
      {"a stream with a child", set(Entry(2) + 0x4c, 4),
       CompoundStatus::kMalformed, F::kBadTree},
      {"a root of another type", [](Bytes& b) { b[Entry(0) + 0x42] = 1; },
       CompoundStatus::kMalformed, F::kBadTree},
      {"an odd name size", [](Bytes& b) { b[Entry(1) + 0x40] = 3; },
       CompoundStatus::kMalformed, F::kBadEntry},
      {"a name without its terminator", [](Bytes& b) { b[Entry(1) + 2] = 'x'; },
       CompoundStatus::kMalformed, F::kBadEntry},
      {"an unknown type", [](Bytes& b) { b[Entry(1) + 0x42] = 7; },
       CompoundStatus::kMalformed, F::kBadEntry},
      {"a sibling outside the directory", set(Entry(1) + 0x48, 8),
       CompoundStatus::kMalformed, F::kBadEntry},
      {"a stream larger than the file", set(Entry(2) + 0x78, 1 << 20),
       CompoundStatus::kMalformed, F::kBadEntry},
      {"two children named alike", [](Bytes& b) { b[Entry(3)] = 'A'; },
       CompoundStatus::kMalformed, F::kDuplicateName},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = Build();
    c.change(bytes);
    std::optional<CompoundFile> file;
    const CompoundRead read = ReadBytes(bytes, &file);
    EXPECT_EQ(read.status, c.status);
    EXPECT_EQ(read.fault, c.fault);
    EXPECT_EQ(file.has_value(), c.status == CompoundStatus::kOk);
  }
}

// Each stream's bytes, whatever holds them; children by raw name; a name
// looked for as Windows looks it up.
TEST(CompoundFileTest, StreamsChildrenAndNames) {
  const Bytes bytes = Build();
  MemoryByteSource source(bytes.data(), bytes.size());
  std::optional<CompoundFile> file;
  ASSERT_EQ(CompoundFile::Read(source, &file).status, CompoundStatus::kOk);
  EXPECT_EQ(file->layout().streams, 3u);
  EXPECT_EQ(file->layout().storages, 1u);
  std::vector<uint32_t> root(file->children(0).begin(),
                             file->children(0).end());
  EXPECT_EQ(root, (std::vector<uint32_t>{1, 2, 3}));  // "A", "Big", "S"
  for (const auto& [index, text] :
       {std::pair<uint32_t, std::string>{1, std::string(100, 'A')},
        {2, std::string(4096, 'B')},
        {4, std::string(10, 'T')}}) {
    std::string got;
    ASSERT_EQ(file->Stream(source, index,
                           [&](const uint8_t* d, size_t n) {
                             got.append(reinterpret_cast<const char*>(d), n);
                             return true;
                           }),
              CompoundStatus::kOk);
    EXPECT_EQ(got, text) << index;
  }
  const uint8_t big[] = {'B', 0, 'i', 0, 'g', 0};
  const uint8_t lower[] = {'b', 0, 'i', 0, 'g', 0};
  const uint8_t t[] = {'T', 0};
  EXPECT_EQ(file->FindInRoot(big, sizeof(big)), 2u);
  EXPECT_EQ(file->FindInRoot(lower, sizeof(lower)),
            std::nullopt);  // found, another case
  EXPECT_EQ(file->FindInRoot(t, sizeof(t)), std::nullopt);  // not the root's
}

}  // namespace
}  // namespace sealprobe

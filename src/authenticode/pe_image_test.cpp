#include "authenticode/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "authenticode/byte_source.h"

namespace sealprobe {
namespace {

using Bytes = std::vector<uint8_t>;

// Layout of the images BuildPe makes.
constexpr uint32_t kLfanew = 0x40;
constexpr uint32_t kCoff = kLfanew + 4;
constexpr uint32_t kOptional = kCoff + 20;
constexpr uint32_t kSectionData = 0x200;
constexpr uint32_t kSectionSize = 0x200;
constexpr uint32_t kTable = kSectionData + kSectionSize;
constexpr uint32_t kPayload = 100;

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Le32At(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                               static_cast<uint32_t>(b[at + 3]) << 24);
}

uint32_t DirectoryOffset(bool pe32_plus) {
  return kOptional + (pe32_plus ? 112 : 96);
}

uint32_t CertEntry(bool pe32_plus) { return DirectoryOffset(pe32_plus) + 32; }

// A minimal image: headers, one section, then a certificate table whose
// single entry carries kPayload bytes, padded to 8.
Bytes BuildPe(bool pe32_plus) {
  const uint16_t optional_size = pe32_plus ? 240 : 224;
  const uint32_t entry_length = 8 + kPayload;
  const uint32_t table_size = (entry_length + 7) & ~7u;
  Bytes b(kTable + table_size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3c, kLfanew);
  b[kLfanew] = 'P';
  b[kLfanew + 1] = 'E';
  Put16(b, kCoff + 2, 1);  // NumberOfSections
  Put16(b, kCoff + 16, optional_size);
  Put16(b, kOptional, pe32_plus ? 0x20b : 0x10b);
  Put32(b, kOptional + 60, kSectionData);  // SizeOfHeaders
  Put32(b, DirectoryOffset(pe32_plus) - 4, 16);
  Put32(b, CertEntry(pe32_plus), kTable);
  Put32(b, CertEntry(pe32_plus) + 4, table_size);
  const uint32_t section = kOptional + optional_size;
  Put32(b, section + 16, kSectionSize);
  Put32(b, section + 20, kSectionData);
  Put32(b, kTable, entry_length);
  Put16(b, kTable + 4, 0x0200);
  Put16(b, kTable + 6, 0x0002);
  for (uint32_t i = 0; i < kPayload; ++i) b[kTable + 8 + i] = 0x30 + i % 7;
  return b;
}

class PeImageTest : public ::testing::TestWithParam<bool> {};

TEST_P(PeImageTest, TableOfLayouts) {
  // What ParsePeImage and ReadSignatureEntry make of an image.
  struct Outcome {
    PeStatus pe;
    SignatureStatus signature;  // when pe is kOk
  };
  const Outcome kNotPe{PeStatus::kNotPe, {}};
  const Outcome kReadsTable{PeStatus::kOk, SignatureStatus::kOk};
  const Outcome kNoSignature{PeStatus::kOk, SignatureStatus::kNoSignature};
  const Outcome kTooLarge{PeStatus::kOk, SignatureStatus::kTooLarge};
  using Mutate = std::function<void(Bytes&, bool pe32_plus)>;
  const auto set16 = [](size_t at, uint16_t v) {
    return [at, v](Bytes& b, bool) { Put16(b, at, v); };
  };
  const auto set32 = [](size_t at, uint32_t v) {
    return [at, v](Bytes& b, bool) { Put32(b, at, v); };
  };
  const auto entry = [](uint32_t offset, uint32_t size) {
    return [offset, size](Bytes& b, bool p) {
      Put32(b, CertEntry(p), offset);
      Put32(b, CertEntry(p) + 4, size);
    };
  };
  const auto truncate = [](size_t size) {
    return [size](Bytes& b, bool) { b.resize(size); };
  };
  // Appends `count` entries of `type` with `payload` bytes, then sizes the
  // table to the file.
  const auto later = [](uint32_t count, uint32_t payload, uint16_t type = 2) {
    return [=](Bytes& b, bool p) {
      for (uint32_t i = 0; i < count; ++i) {
        const size_t at = b.size();
        b.resize(at + ((8 + payload + 7) & ~size_t{7}));
        Put32(b, at, 8 + payload);
        Put16(b, at + 4, 0x0200);
        Put16(b, at + 6, type);
      }
      Put32(b, CertEntry(p) + 4, static_cast<uint32_t>(b.size() - kTable));
    };
  };
  const auto then = [](Mutate first, Mutate second) {
    return [=](Bytes& b, bool p) {
      first(b, p);
      second(b, p);
    };
  };
  using S = SignatureStatus;
  const struct {
    const char* name;
    Mutate mutate;
    Outcome expected;
    std::vector<SignatureStatus> later = {};  // ReadLaterSignatureEntries'
  } kCases[] = {
      {"well formed", [](Bytes&, bool) {}, kReadsTable},
      {"empty", truncate(0), kNotPe},
      {"dos header cut", truncate(63), kNotPe},
      {"no MZ", [](Bytes& b, bool) { b[1] = 'X'; }, kNotPe},
      {"e_lfanew past the end", set32(0x3c, 0x10000), kNotPe},
      {"e_lfanew wraps 32 bits", set32(0x3c, 0xfffffffe), kNotPe},
      {"no PE signature", [](Bytes& b, bool) { b[kLfanew + 2] = 1; }, kNotPe},
      {"unknown magic", set16(kOptional, 0x107), kNotPe},
      {"optional header too short for its fixed fields",
       [](Bytes& b, bool p) { Put16(b, kCoff + 16, p ? 111 : 95); }, kNotPe},
      {"optional header past the end", set16(kCoff + 16, 0xfff0), kNotPe},
      {"65535 sections, all in the file",
       [](Bytes& b, bool) {
         Put16(b, kCoff + 2, 0xffff);
         b.resize(kOptional + 240 + 0xffff * 40);
       },
       kNoSignature},
      {"section table past the end", set16(kCoff + 2, 0xffff), kNotPe},
      {"headers cut inside the optional header", truncate(kOptional + 80),
       kNotPe},
      {"four data directories",
       [](Bytes& b, bool p) { Put32(b, DirectoryOffset(p) - 4, 4); },
       kNoSignature},
      {"optional header ends before the certificate entry",
       [](Bytes& b, bool p) {
         Put16(b, kCoff + 16,
               static_cast<uint16_t>(CertEntry(p) + 4 - kOptional));
       },
       kNoSignature},
      {"no certificate table", entry(0, 0), kNoSignature},
      {"table of size zero", entry(kTable, 0), kNoSignature},
      {"table past the end", entry(kTable, 0x1000), kNoSignature},
      {"table wraps 32 bits", entry(0xfffffff8, kTable + 120), kNoSignature},
      {"table not ending the file", [](Bytes& b, bool) { b.push_back(0); },
       kNoSignature},
      {"table starting inside the section data",
       [](Bytes& b, bool p) {
         Put32(b, CertEntry(p), kTable - 8);
         Put32(b, CertEntry(p) + 4,
               static_cast<uint32_t>(b.size()) - (kTable - 8));
       },
       kNoSignature},
      {"section data past the table",
       [](Bytes& b, bool p) {
         Put32(b, kOptional + (p ? 240 : 224) + 16, kSectionSize + 1);
       },
       kNoSignature},
      {"table smaller than a header", entry(kTable + 108, 4), kNoSignature},
      {"dwLength below 8", set32(kTable, 7), kNoSignature},
      {"dwLength beyond the table", set32(kTable, 8 + kPayload + 5),
       kNoSignature},
      {"dwLength exactly the table", set32(kTable, 8 + kPayload + 4),
       kReadsTable},
      {"revision 1.0", set16(kTable + 4, 0x0100), kNoSignature},
      {"X.509 entry type", set16(kTable + 6, 1), kNoSignature},
      {"first entry over the size limit",
       [](Bytes& b, bool p) {
         const uint32_t big = kMaxSignatureSize + 16;
         b.resize(kTable + big);
         Put32(b, CertEntry(p) + 4, big);
         Put32(b, kTable, big);
       },
       kTooLarge},
      // Later entries, each at the 8-byte boundary after the one before.
      {"two later entries", later(2, 13), kReadsTable, {S::kOk, S::kOk}},
      {"an X.509 entry ends the entries", then(later(1, 8, 1), later(1, 8)),
       kReadsTable},
      {"a later entry beyond the table",
       then(later(1, 8), set32(kTable + 112, 8 + 9)), kReadsTable},
      {"less than a header after the first entry",
       [](Bytes& b, bool p) {
         b.resize(b.size() + 4);
         Put32(b, CertEntry(p) + 4, static_cast<uint32_t>(b.size() - kTable));
       },
       kReadsTable},
      {"15 later entries", later(15, 0), kReadsTable,
       std::vector<SignatureStatus>(15, S::kOk)},
      {"16 later entries: the rest stand as one too large", later(16, 0),
       kReadsTable,
       [] {
         std::vector<SignatureStatus> read(15, S::kOk);
         read.push_back(S::kTooLarge);
         return read;
       }()},
      {"a later entry over the size limit ends them",
       then(later(1, kMaxSignatureSize + 1), later(1, 8)),
       kReadsTable,
       {S::kTooLarge}},
  };
  const bool plus = GetParam();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes image = BuildPe(plus);
    c.mutate(image, plus);
    MemoryByteSource source(image.data(), image.size());
    const PeParseResult parsed = ParsePeImage(source);
    ASSERT_EQ(parsed.status, c.expected.pe);
    if (c.expected.pe != PeStatus::kOk) continue;
    const SignatureEntry entry = ReadSignatureEntry(source, parsed.image);
    EXPECT_EQ(entry.status, c.expected.signature);
    if (entry.status == SignatureStatus::kOk) {
      ASSERT_EQ(entry.pkcs7.size(), Le32At(image, kTable) - 8);
      EXPECT_EQ(entry.pkcs7[0], image[kTable + 8]);
    }
    std::vector<SignatureStatus> later;
    for (const SignatureEntry& e :
         ReadLaterSignatureEntries(source, parsed.image)) {
      later.push_back(e.status);
    }
    EXPECT_EQ(later, c.later);
  }
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, PeImageTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Pe32Plus" : "Pe32";
                         });

// A source whose reads fail past a point, as a file that shrank would.
class FailingSource final : public ByteSource {
 public:
  FailingSource(const Bytes& bytes, uint64_t fail_from)
      : memory_(bytes.data(), bytes.size()), fail_from_(fail_from) {}
  uint64_t size() const override { return memory_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override {
    return offset + length <= fail_from_ && memory_.ReadAt(offset, out, length);
  }
  bool Stream(uint64_t offset, uint64_t length,
              const ChunkSink& sink) override {
    return offset + length <= fail_from_ &&
           memory_.Stream(offset, length, sink);
  }

 private:
  MemoryByteSource memory_;
  uint64_t fail_from_;
};

TEST(PeImageReadErrors, FailedReadsAreNotMistakenForMalformedFiles) {
  const Bytes image = BuildPe(true);
  for (const uint64_t fail_from :
       {uint64_t{0}, uint64_t{kLfanew + 8}, uint64_t{kOptional + 100}}) {
    FailingSource source(image, fail_from);
    EXPECT_EQ(ParsePeImage(source).status, PeStatus::kReadError) << fail_from;
  }
  FailingSource source(image, kTable + 4);
  const PeParseResult parsed = ParsePeImage(source);
  ASSERT_EQ(parsed.status, PeStatus::kOk);
  EXPECT_EQ(ReadSignatureEntry(source, parsed.image).status,
            SignatureStatus::kReadError);
}

}  // namespace
}  // namespace sealprobe

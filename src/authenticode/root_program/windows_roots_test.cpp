#include "authenticode/root_program/windows_roots.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "authenticode/root_program/serialized_store.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// What a load error's cause is, whichever reader found it.
using CauseFault =
    std::variant<std::monostate, CabinetFault, TrustListFault, StoreFault>;
CauseFault FaultOfCause(const TrustLoadError& error) {
  if (const auto* c = std::get_if<CabinetError>(&error.cause)) return c->fault;
  if (const auto* l = std::get_if<TrustListError>(&error.cause)) {
    return l->fault;
  }
  if (const auto* s = std::get_if<StoreError>(&error.cause)) return s->fault;
  return {};
}

// A folder that does not load names the file at fault and why; every
// damage is done to a copy of OUT/windows/program or .../eku-tls.
TEST(WindowsRootsTest, BadFoldersSayWhichFileAndWhy) {
  struct Case {
    const char* name;
    const char* from;  // the folder copied
    std::function<void(const fs::path&)> damage;
    const char* file;  // the file named, in the copy; "" for the folder
    LoadFault fault;
    CauseFault cause;  // what the reader of that file found
  };
  const auto write = [](const fs::path& path, const Bytes& bytes) {
    ASSERT_TRUE(WriteFileBytes(path.string(), Text(bytes)));
  };
  const auto cut = [&](const char* name, size_t keep) {
    return [=](const fs::path& dir) {
      Bytes bytes = ReadFileBytes((dir / name).string());
      bytes.resize(std::min(keep, bytes.size() / 2));
      write(dir / name, bytes);
    };
  };
  const auto flip = [&](const char* name, size_t from_end) {
    return [=](const fs::path& dir) {
      Bytes bytes = ReadFileBytes((dir / name).string());
      bytes[bytes.size() - from_end] ^= 1;
      write(dir / name, bytes);
    };
  };
  const std::vector<Case> cases = {
      {"missing folder",
       "program",
       [](const fs::path& dir) { fs::remove_all(dir); },
       "",
       LoadFault::kNotAFolder,
       {}},
      {"no root list",
       "program",
       [](const fs::path& dir) { fs::remove(dir / "authrootstl.cab"); },
       "",
       LoadFault::kNoRootList,
       {}},
      {"truncated list", "eku-tls", cut("authroot.stl", 600), "authroot.stl",
       LoadFault::kTrustList, TrustListFault::kNotSignedData},
      // The last subject's properties, which the signature covers.
      {"list changed after signing", "eku-tls", flip("authroot.stl", 900),
       "authroot.stl", LoadFault::kTrustList, TrustListFault::kBadSignature},
      {"Disallowed list as the root list", "program",
       [](const fs::path& dir) {
         fs::remove(dir / "authrootstl.cab");
         fs::rename(dir / "disallowedcert.stl", dir / "authroot.stl");
       },
       "authroot.stl", LoadFault::kTrustList, TrustListFault::kNotRootList},
      // The certificate's length, the third field of its element header.
      {"store element longer than the file", "program",
       [&](const fs::path& dir) {
         Bytes bytes = ReadFileBytes((dir / "roots.sst").string());
         bytes[8 + 12 + 20 + 8 + 3] = 0x7f;
         write(dir / "roots.sst", bytes);
       },
       "roots.sst", LoadFault::kStore, StoreFault::kPastTheEnd},
      {"cabinet that does not unpack", "program", cut("authrootstl.cab", 80),
       "authrootstl.cab", LoadFault::kCabinet, CabinetFault::kDoesNotUnpack},
      {"cabinet and bare list that differ",
       "program",
       [](const fs::path& dir) {
         fs::copy_file(dir / "disallowedcert.stl", dir / "authroot.stl");
       },
       "authrootstl.cab",
       LoadFault::kListsDiffer,
       {}},
      {"two root lists whose names differ in letter case",
       "eku-tls",
       [](const fs::path& dir) {
         fs::copy_file(dir / "authroot.stl", dir / "AuthRoot.stl");
       },
       "AuthRoot.stl",
       LoadFault::kNamesDiffer,
       {}},
      {"a FIFO as a root body, opened without waiting for a writer",
       "program",
       [](const fs::path& dir) {
         ASSERT_EQ(mkfifo((dir / "fifo.crt").c_str(), 0600), 0);
       },
       "fifo.crt",
       LoadFault::kNotRegularFile,
       {}},
      {"a link to itself as a root body",
       "program",
       [](const fs::path& dir) {
         fs::create_symlink("loop.crt", dir / "loop.crt");
       },
       "loop.crt",
       LoadFault::kFileUnreadable,
       {}},
      // Every name counts, links that lead nowhere too.
      {"more names than the cap",
       "program",
       [](const fs::path& dir) {
         for (int i = 0; i < 10000; ++i) {
           fs::create_symlink("x", dir / ("l" + std::to_string(i)));
         }
       },
       "",
       LoadFault::kTooManyFiles,
       {}},
      {"a property number written with a needless octet", "nonminimal",
       [](const fs::path&) {}, "authroot.stl", LoadFault::kTrustList,
       TrustListFault::kBadProperty},
      {"a NotBefore of three octets", "shortdate", [](const fs::path&) {},
       "authroot.stl", LoadFault::kTrustList, TrustListFault::kBadProperty},
      {"nine roots of one subject",
       "twins",
       [](const fs::path&) {},
       "",
       LoadFault::kSameSubject,
       {}},
      {"root body that is no certificate",
       "program",
       [&](const fs::path& dir) {
         write(dir / "extra.crt", {0x30, 0x00});
       },
       "extra.crt",
       LoadFault::kNotACertificate,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder temp;
    ASSERT_TRUE(temp.ok());
    const fs::path dir = temp / "trust";
    fs::copy(FixturePath(std::string("windows/") + c.from), dir);
    c.damage(dir);
    TrustLoadError error;
    EXPECT_EQ(WindowsRoots::Load(dir.string(), &error), nullptr);
    EXPECT_EQ(error.file, *c.file ? (dir / c.file).string() : dir.string());
    EXPECT_EQ(error.fault, c.fault);
    EXPECT_EQ(FaultOfCause(error), c.cause);
  }
  // A malformed property is named by its number, on a subject named by
  // its identifier and friendly name.
  TrustLoadError error;
  WindowsRoots::Load(FixturePath("windows/shortdate"), &error);
  const auto* list = std::get_if<TrustListError>(&error.cause);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->property, 126);
  EXPECT_EQ(list->identifier.size(), 20u);
  EXPECT_EQ(list->friendly_name, "root.crt");
  // The sound folder: two listed roots, one as <SHA1>.crt, one in a store.
  error = {};
  const auto roots = WindowsRoots::Load(FixturePath("windows/program"), &error);
  ASSERT_NE(roots, nullptr) << error.file;
  EXPECT_EQ(roots->anchor_count(), 2u);
  EXPECT_EQ(roots->roots().sequence_number, "0123");
}

// Serialized stores as Wine's serialize.c reads and writes them.
TEST(WindowsRootsTest, SerializedStores) {
  const std::string header("\0\0\0\0CERT", 8);
  const auto element = [](uint32_t id, uint32_t type, const std::string& v) {
    std::string out;
    for (const uint32_t field : {id, type, static_cast<uint32_t>(v.size())}) {
      for (int i = 0; i < 4; ++i) out += static_cast<char>(field >> (8 * i));
    }
    return out + v;
  };
  const struct {
    const char* name;
    std::string bytes;
    size_t certificates;  // or npos: refused
  } kCases[] = {
      {"properties, a certificate, the trailer",
       header + element(3, 1, std::string(20, 'h')) + element(32, 1, "DER") +
           std::string(12, '\0'),
       1},
      {"no trailer", header + element(32, 1, "A") + element(32, 1, "B"), 2},
      {"empty", header, 0},
      {"no header", element(32, 1, "DER"), std::string::npos},
      {"encoding type other than 1", header + element(32, 2, "DER"),
       std::string::npos},
      {"header cut short", header + element(32, 1, "DER").substr(0, 7),
       std::string::npos},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const SerializedStore store = ReadSerializedStore(
        reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(store.ok(), c.certificates != std::string::npos);
    if (store.ok()) {
      EXPECT_EQ(store.certificates.size(), c.certificates);
    }
  }
}

}  // namespace
}  // namespace sealprobe

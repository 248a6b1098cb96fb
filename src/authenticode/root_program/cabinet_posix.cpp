#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <strings.h>

#include <memory>
#include <optional>
#include <string>

#include "authenticode/root_program/cabinet.h"

namespace sealprobe {
namespace {

// libarchive is loaded only when a cabinet is read: linked in, it and the
// libraries it needs (ICU, libxml2, the compressors) cost every run of the
// tool more memory than its whole verification, for a file most runs never
// see.
constexpr char kLibrary[] = "libarchive.so.13";

struct LibraryDeleter {
  void operator()(void* handle) const noexcept { dlclose(handle); }
};
using LibraryPtr = std::unique_ptr<void, LibraryDeleter>;

// The functions used, with libarchive's own signatures.
struct Archive {
  LibraryPtr library;
  decltype(&archive_read_new) read_new = nullptr;
  decltype(&archive_read_support_format_cab) support_format_cab = nullptr;
  decltype(&archive_read_open_memory) open_memory = nullptr;
  decltype(&archive_read_next_header) next_header = nullptr;
  decltype(&archive_read_data) read_data = nullptr;
  decltype(&archive_read_free) read_free = nullptr;
  decltype(&archive_error_string) error_string = nullptr;
  decltype(&archive_entry_pathname) entry_pathname = nullptr;
};

template <typename Function>
bool Resolve(void* library, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  return *function != nullptr;
}

// libarchive, or dlerror's words in `why`.
std::optional<Archive> LoadArchive(std::string* why) {
  Archive a;
  a.library.reset(dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL));
  void* l = a.library.get();
  if (l == nullptr || !Resolve(l, "archive_read_new", &a.read_new) ||
      !Resolve(l, "archive_read_support_format_cab", &a.support_format_cab) ||
      !Resolve(l, "archive_read_open_memory", &a.open_memory) ||
      !Resolve(l, "archive_read_next_header", &a.next_header) ||
      !Resolve(l, "archive_read_data", &a.read_data) ||
      !Resolve(l, "archive_read_free", &a.read_free) ||
      !Resolve(l, "archive_error_string", &a.error_string) ||
      !Resolve(l, "archive_entry_pathname", &a.entry_pathname)) {
    const char* error = dlerror();
    *why = error != nullptr ? error : "";
    return std::nullopt;
  }
  return a;
}

// An archive being read, freed by the library's own function.
class Reader {
 public:
  explicit Reader(const Archive& lib) : lib_(lib), a_(lib.read_new()) {}
  ~Reader() {
    if (a_ != nullptr) lib_.read_free(a_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  archive* get() const { return a_; }

 private:
  const Archive& lib_;
  archive* a_;
};

CabinetMember Failed(CabinetFault fault, std::string library_text = {}) {
  CabinetMember member;
  member.error = {fault, std::move(library_text)};
  return member;
}

// `fault`, with what libarchive says of it.
CabinetMember LibraryFailed(CabinetFault fault, const Archive& lib,
                            archive* a) {
  const char* text = a != nullptr ? lib.error_string(a) : nullptr;
  return Failed(fault, text != nullptr ? text : "");
}

// The data of the entry `a` is at, read in blocks, counting against
// `*budget`: a member claiming any size costs no more than the budget.
CabinetMember ReadEntry(const Archive& lib, archive* a, size_t* budget) {
  CabinetMember member;
  uint8_t block[64 * 1024];
  for (;;) {
    const la_ssize_t got = lib.read_data(a, block, sizeof(block));
    if (got < 0) return LibraryFailed(CabinetFault::kDoesNotUnpack, lib, a);
    if (got == 0) break;
    if (static_cast<size_t>(got) > *budget) {
      return Failed(CabinetFault::kOverCap);
    }
    *budget -= static_cast<size_t>(got);
    member.bytes.insert(member.bytes.end(), block, block + got);
  }
  return member;
}

}  // namespace

CabinetMember ReadCabinetMember(const uint8_t* cab, size_t size,
                                const std::string& name, size_t max_bytes,
                                size_t max_members) {
  // Loaded once, for the rest of the run: a run that reads one cabinet
  // reads another.
  struct Loaded {
    std::string why;
    std::optional<Archive> archive = LoadArchive(&why);
  };
  static const Loaded loaded;
  const std::optional<Archive>& lib = loaded.archive;
  if (!lib) return Failed(CabinetFault::kNoLibrary, loaded.why);
  const Reader a(*lib);
  if (a.get() == nullptr || lib->support_format_cab(a.get()) != ARCHIVE_OK ||
      lib->open_memory(a.get(), cab, size) != ARCHIVE_OK) {
    return LibraryFailed(CabinetFault::kNotACabinet, *lib, a.get());
  }
  // Members are unpacked in order, each in full: skipping one inside a
  // compressed folder costs its decompression all the same, so every byte
  // unpacked counts against one budget.
  size_t budget = max_bytes;
  size_t members = 0;
  CabinetMember first;
  archive_entry* entry = nullptr;
  for (;;) {
    const int next = lib->next_header(a.get(), &entry);
    if (next == ARCHIVE_EOF) break;
    if (next != ARCHIVE_OK) {
      return LibraryFailed(CabinetFault::kDoesNotUnpack, *lib, a.get());
    }
    if (++members > max_members) {
      return Failed(CabinetFault::kTooManyMembers);
    }
    const char* path = lib->entry_pathname(entry);
    const bool named = path != nullptr && strcasecmp(path, name.c_str()) == 0;
    CabinetMember member = ReadEntry(*lib, a.get(), &budget);
    if (!member.ok() || named) return member;
    if (members == 1) first = std::move(member);
  }
  if (members == 1) return first;
  return Failed(members == 0 ? CabinetFault::kEmpty
                             : CabinetFault::kNoSuchMember);
}

}  // namespace sealprobe

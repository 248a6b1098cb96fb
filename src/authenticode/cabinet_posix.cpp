#include <archive.h>
#include <archive_entry.h>
#include <strings.h>

#include <memory>

#include "authenticode/cabinet.h"

namespace sealprobe {
namespace {

struct ArchiveDeleter {
  void operator()(archive* a) const noexcept { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveDeleter>;

CabinetMember Failed(std::string why) {
  CabinetMember member;
  member.error = std::move(why);
  return member;
}

std::string LibraryError(archive* a, const char* what) {
  const char* text = archive_error_string(a);
  return std::string(what) + (text != nullptr ? std::string(": ") + text : "");
}

// The data of the entry `a` is at, read in blocks, counting against
// `*budget`: a member claiming any size costs no more than the budget.
CabinetMember ReadEntry(archive* a, size_t* budget) {
  CabinetMember member;
  uint8_t block[64 * 1024];
  for (;;) {
    const la_ssize_t got = archive_read_data(a, block, sizeof(block));
    if (got < 0) return Failed(LibraryError(a, "it does not unpack"));
    if (got == 0) break;
    if (static_cast<size_t>(got) > *budget) {
      return Failed("it unpacks to more than its cap");
    }
    *budget -= static_cast<size_t>(got);
    member.bytes.insert(member.bytes.end(), block, block + got);
  }
  member.ok = true;
  return member;
}

}  // namespace

CabinetMember ReadCabinetMember(const uint8_t* cab, size_t size,
                                const std::string& name, size_t max_bytes,
                                size_t max_members) {
  const ArchivePtr a(archive_read_new());
  if (!a || archive_read_support_format_cab(a.get()) != ARCHIVE_OK ||
      archive_read_open_memory(a.get(), cab, size) != ARCHIVE_OK) {
    return Failed(LibraryError(a.get(), "it is not a cabinet"));
  }
  // Members are unpacked in order, each in full: skipping one inside a
  // compressed folder costs its decompression all the same, so every byte
  // unpacked counts against one budget.
  size_t budget = max_bytes;
  size_t members = 0;
  CabinetMember first;
  archive_entry* entry = nullptr;
  for (;;) {
    const int next = archive_read_next_header(a.get(), &entry);
    if (next == ARCHIVE_EOF) break;
    if (next != ARCHIVE_OK) {
      return Failed(LibraryError(a.get(), "it does not unpack"));
    }
    if (++members > max_members) {
      return Failed("it holds more than " + std::to_string(max_members) +
                    " members");
    }
    const char* path = archive_entry_pathname(entry);
    const bool named = path != nullptr && strcasecmp(path, name.c_str()) == 0;
    CabinetMember member = ReadEntry(a.get(), &budget);
    if (!member.ok || named) return member;
    if (members == 1) first = std::move(member);
  }
  if (members == 1) return first;
  return Failed(members == 0 ? "it holds nothing" : "it holds no " + name);
}

}  // namespace sealprobe

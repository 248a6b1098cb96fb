// Reading one file out of a Microsoft cabinet (.cab), as Windows Update
// ships its certificate trust lists. The decompression is a system
// library's; this is only the bounded way in.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_CABINET_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_CABINET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sealprobe {

// Why no member came out of a cabinet.
enum class CabinetFault {
  kNone,
  kNoLibrary,       // libarchive does not load
  kNotACabinet,     // the bytes are not a cabinet it opens
  kDoesNotUnpack,   // a member does not unpack
  kOverCap,         // the members unpack to more than allowed
  kTooManyMembers,  // more members than allowed
  kEmpty,           // no member at all
  kNoSuchMember,    // none of the name asked for, among several
};

struct CabinetError {
  CabinetFault fault = CabinetFault::kNone;
  // The library's own words, when it gave some (dlerror, libarchive's).
  std::string library_text;
};

struct CabinetMember {
  std::vector<uint8_t> bytes;  // the member, when ok()
  CabinetError error;
  bool ok() const { return error.fault == CabinetFault::kNone; }
};

inline constexpr size_t kMaxCabinetMembers = 64;

// The member of the cabinet in `cab` (`size` bytes) named `name` (letter
// case aside), or its only member when it has just one. Fails when the
// bytes are not a cabinet that unpacks, when no member fits, when the
// cabinet holds more than `max_members` members, or when the member
// and the members before it unpack to more than `max_bytes`. Never
// throws.
CabinetMember ReadCabinetMember(const uint8_t* cab, size_t size,
                                const std::string& name, size_t max_bytes,
                                size_t max_members = kMaxCabinetMembers);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_CABINET_H_

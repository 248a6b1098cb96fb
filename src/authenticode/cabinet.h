// Reading one file out of a Microsoft cabinet (.cab), as Windows Update
// ships its certificate trust lists. The decompression is a system
// library's; this is only the bounded way in.
#ifndef SEALPROBE_AUTHENTICODE_CABINET_H_
#define SEALPROBE_AUTHENTICODE_CABINET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sealprobe {

struct CabinetMember {
  bool ok = false;
  std::vector<uint8_t> bytes;  // the member, when ok
  std::string error;           // why not, in words, when not ok
};

// The member of the cabinet in `cab` (`size` bytes) named `name` (letter
// case aside), or its only member when it has just one. Fails when the
// bytes are not a cabinet that unpacks, when no member fits, when the
// cabinet holds more than `max_members` members, or when the member
// and the members before it unpack to more than `max_bytes`. Never
// throws.
CabinetMember ReadCabinetMember(const uint8_t* cab, size_t size,
                                const std::string& name, size_t max_bytes,
                                size_t max_members = 64);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_CABINET_H_

// Fuzzes the readers of Windows' trust files, which come from outside as
// the signatures do: the first byte chooses the reader, the rest is the
// file. 0: a root list, 1: a Disallowed list, 2: a serialized store, 3: a
// cabinet, whose member is then read as a root list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "authenticode/root_program/cabinet.h"
#include "authenticode/root_program/serialized_store.h"
#include "authenticode/root_program/trust_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* file = data + 1;
  const size_t file_size = size - 1;
  switch (data[0] % 4) {
    case 0:
    case 1: {
      const sealprobe::TrustListRead read = sealprobe::ReadTrustList(
          file, file_size,
          data[0] % 4 == 0 ? sealprobe::TrustListKind::kRoots
                           : sealprobe::TrustListKind::kDisallowed);
      // A list is read, or refused with a reason: never both, never
      // neither.
      if (read.list.has_value() ==
          (read.error.fault != sealprobe::TrustListFault::kNone)) {
        std::abort();
      }
      break;
    }
    case 2: {
      const sealprobe::SerializedStore store =
          sealprobe::ReadSerializedStore(file, file_size);
      // A store refused yields no certificate.
      if (!store.ok() && !store.certificates.empty()) std::abort();
      break;
    }
    case 3: {
      const sealprobe::CabinetMember member = sealprobe::ReadCabinetMember(
          file, file_size, "authroot.stl", 1 << 20);
      if (member.ok()) {
        sealprobe::ReadTrustList(member.bytes.data(), member.bytes.size(),
                                 sealprobe::TrustListKind::kRoots);
      }
      break;
    }
  }
  return 0;
}

// Fuzzes the readers of Windows' trust files, which come from outside as
// the signatures do: the first byte chooses the reader, the rest is the
// file. 0: a root list, 1: a Disallowed list, 2: a serialized store, 3: a
// cabinet, whose member is then read as a root list; 4: a list's signer
// checked as sealprobe-roots checks it, under a root whose DER comes
// first, after its length in two octets (big-endian).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "authenticode/root_program/cabinet.h"
#include "authenticode/root_program/list_signature.h"
#include "authenticode/root_program/serialized_store.h"
#include "authenticode/root_program/trust_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* file = data + 1;
  const size_t file_size = size - 1;
  switch (data[0] % 5) {
    case 0:
    case 1: {
      const sealprobe::TrustListRead read = sealprobe::ReadTrustList(
          file, file_size,
          data[0] % 5 == 0 ? sealprobe::TrustListKind::kRoots
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
    case 4: {
      if (file_size < 2) break;
      const size_t root_size =
          std::min<size_t>(file[0] << 8 | file[1], file_size - 2);
      const uint8_t* list = file + 2 + root_size;
      const sealprobe::ListSignature signature =
          sealprobe::AuthenticateTrustList(list, file_size - 2 - root_size,
                                           file + 2, root_size,
                                           /*when=*/1700000000);
      // Nothing is authentic under a root that is not there.
      if (signature.ok() && root_size == 0) std::abort();
      break;
    }
  }
  return 0;
}

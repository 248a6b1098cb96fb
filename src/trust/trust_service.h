// Asking the platform's trust service whether one file carries a valid
// embedded Authenticode signature.
#ifndef SEALPROBE_TRUST_TRUST_SERVICE_H_
#define SEALPROBE_TRUST_TRUST_SERVICE_H_

#include <cstdint>
#include <memory>

#include "native_text.h"

namespace sealprobe {

struct TrustResult {
  // 0 when the signature is valid and trusted, otherwise a status from
  // trust_status.h (or any other code the platform returns).
  uint32_t status = 0;
  // The thread's last-error code read right after the call. Only meaningful
  // when `status` is TRUST_E_NOSIGNATURE, where it tells an unsigned file
  // from other trouble.
  uint32_t last_error = 0;
};

class TrustService {
 public:
  virtual ~TrustService() = default;
  // Verifies the file at `path` with the generic code-signing action: no
  // user interface, no revocation checks, nothing fetched over the network.
  // Opens the file by its path. Never throws.
  virtual TrustResult Verify(const NativeString& path) = 0;
};

std::unique_ptr<TrustService> MakePlatformTrustService();

}  // namespace sealprobe

#endif  // SEALPROBE_TRUST_TRUST_SERVICE_H_

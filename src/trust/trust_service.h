// Asking the platform's trust service whether one file carries a valid
// embedded Authenticode signature.
#ifndef SEALPROBE_TRUST_TRUST_SERVICE_H_
#define SEALPROBE_TRUST_TRUST_SERVICE_H_

#include <memory>

#include "native_text.h"
#include "trust_status.h"

namespace sealprobe {

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

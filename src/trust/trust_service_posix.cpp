#include "trust/trust_service.h"
#include "trust/trust_status.h"

namespace sealprobe {
namespace {

// Placeholder until the OpenSSL-based verifier lands: every file is unsigned.
class UnsignedTrustService final : public TrustService {
 public:
  TrustResult Verify(const NativeString&) override {
    return {status::kTrustNoSignature, status::kTrustNoSignature};
  }
};

}  // namespace

std::unique_ptr<TrustService> MakePlatformTrustService() {
  return std::make_unique<UnsignedTrustService>();
}

}  // namespace sealprobe

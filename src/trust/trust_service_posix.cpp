#include "authenticode/authenticode.h"
#include "authenticode/trust_anchors.h"
#include "trust/trust_service.h"

namespace sealprobe {
namespace {

class OpenSslTrustService final : public TrustService {
 public:
  TrustResult Verify(const NativeString& path) override {
    return VerifyAuthenticodeFile(path, anchors_).result;
  }

 private:
  // Shared by every file of the run, loaded by the first that needs it:
  // Windows' root program when SEALPROBE_WINDOWS_TRUST names its folder,
  // else OpenSSL's default store.
  TrustAnchors anchors_ = TrustAnchors::FromEnvironment();
};

}  // namespace

std::unique_ptr<TrustService> MakePlatformTrustService() {
  return std::make_unique<OpenSslTrustService>();
}

}  // namespace sealprobe

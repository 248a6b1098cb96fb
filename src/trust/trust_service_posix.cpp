#include "trust/authenticode.h"
#include "trust/byte_source.h"
#include "trust/trust_anchors.h"
#include "trust/trust_service.h"
#include "trust/trust_status.h"

namespace sealprobe {
namespace {

class OpenSslTrustService final : public TrustService {
 public:
  TrustResult Verify(const NativeString& path) override {
    FileByteSource::Opened file = FileByteSource::Open(path);
    if (file.status != FileByteSource::OpenStatus::kOk) {
      return {status::kCryptFileError, status::kCryptFileError};
    }
    return VerifyAuthenticode(*file.source, anchors_);
  }

 private:
  // Shared by every file of the run, loaded by the first that needs it.
  TrustAnchors anchors_ = TrustAnchors::SystemDefault();
};

}  // namespace

std::unique_ptr<TrustService> MakePlatformTrustService() {
  return std::make_unique<OpenSslTrustService>();
}

}  // namespace sealprobe

#include "trust/authenticode.h"
#include "trust/file_byte_source.h"
#include "trust/trust_anchors.h"
#include "trust/trust_service.h"
#include "trust/trust_status.h"

namespace sealprobe {
namespace {

class OpenSslTrustService final : public TrustService {
 public:
  TrustResult Verify(const NativeString& path) override {
    const std::unique_ptr<FileByteSource> file = FileByteSource::Open(path);
    if (!file) return {status::kCryptFileError, status::kCryptFileError};
    return VerifyAuthenticode(*file, anchors_);
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

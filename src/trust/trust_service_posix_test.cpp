#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>

#include "testing/test_support.h"
#include "trust/trust_service.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

using Codes = std::pair<uint32_t, uint32_t>;  // status, last error

Codes CodesOf(const TrustResult& r) { return {r.status, r.last_error}; }

// Through the platform service: files that do not open as regular files,
// and SSL_CERT_FILE choosing the anchors.
TEST(PosixTrustServiceTest, OpensFilesAndHonoursSslCertFile) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& path :
       {dir / "missing.exe", dir / "", dir / "fifo"}) {
    EXPECT_EQ(CodesOf(MakePlatformTrustService()->Verify(path)),
              Codes(status::kCryptFileError, status::kCryptFileError))
        << path;
  }

  const std::string valid = FixturePath("files/valid.exe");
  {
    const ScopedEnvironmentVariable roots("SSL_CERT_FILE",
                                          FixturePath("pki/root.crt"));
    EXPECT_EQ(CodesOf(MakePlatformTrustService()->Verify(valid)), Codes(0, 0));
  }
  const ScopedEnvironmentVariable roots("SSL_CERT_FILE",
                                        FixturePath("pki/broot.crt"));
  EXPECT_EQ(CodesOf(MakePlatformTrustService()->Verify(valid)),
            Codes(status::kCertChaining, status::kCertChaining));
}

}  // namespace
}  // namespace sealprobe

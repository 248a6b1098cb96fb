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
// and SSL_CERT_FILE choosing the anchors (OpenSSL's store, even where
// sealprobe-roots has synced Windows' root program).
TEST(PosixTrustServiceTest, OpensFilesAndHonoursSslCertFile) {
  const ScopedEnvironmentVariable synced("SEALPROBE_WINDOWS_TRUST", "");
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

// SEALPROBE_WINDOWS_TRUST replaces OpenSSL's store, whatever SSL_CERT_FILE
// says; a folder that does not load fails every file that reaches its
// chain, and never falls back to that store.
TEST(PosixTrustServiceTest, HonoursSealprobeWindowsTrust) {
  const ScopedEnvironmentVariable roots("SSL_CERT_FILE",
                                        FixturePath("pki/root.crt"));
  const std::string valid = FixturePath("files/valid.exe");
  const struct {
    std::string folder;
    Codes expected;
  } kCases[] = {
      {FixturePath("windows/program"), Codes(0, 0)},
      {FixturePath("windows/eku-tls"),
       Codes(status::kCertWrongUsage, status::kCertWrongUsage)},
      {FixturePath("windows/no such folder"),
       Codes(status::kTrustSystemError, status::kTrustSystemError)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.folder);
    const ScopedEnvironmentVariable folder("SEALPROBE_WINDOWS_TRUST", c.folder);
    const auto service = MakePlatformTrustService();
    EXPECT_EQ(CodesOf(service->Verify(valid)), c.expected);
    // A file that never reaches its chain keeps its own status.
    EXPECT_EQ(CodesOf(service->Verify(FixturePath("files/tampered.exe"))),
              Codes(status::kTrustBadDigest, status::kTrustBadDigest));
  }
}

}  // namespace
}  // namespace sealprobe

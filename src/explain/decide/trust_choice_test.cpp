#include "explain/decide/trust_choice.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "authenticode/openssl_ptr.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

// A PEM file's text holding one self-signed certificate.
std::string CertificatePem() {
  const ossl::EvpPkeyPtr key(EVP_EC_gen("P-256"));
  const ossl::X509Ptr cert(X509_new());
  X509_set_pubkey(cert.get(), key.get());
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  EXPECT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
  const ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  EXPECT_EQ(PEM_write_bio_X509(bio.get(), cert.get()), 1);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

// --windows-trust before --anchors before the environment, whose variable
// comes before the synced folder (set but empty, it chooses OpenSSL's
// store); --anchors with either folder given is a conflict, with
// --windows-trust before its file is looked at, with the environment's
// after, and a FIFO given as --anchors is no file, not a wait.
TEST(ChooseTrustTest, TakesTheCommandLineFirstAndRefusesAnchorsWithAFolder) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  const std::string pem = dir / "anchors.pem", missing = dir / "none.pem";
  const std::string option_folder = dir / "option", env_folder = dir / "env";
  const std::string synced = dir / "synced", fifo = dir / "fifo.pem";
  ASSERT_TRUE(WriteFileBytes(pem, CertificatePem()));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  using Kind = TrustProblem::Kind;
  using Source = TrustAnchors::Source;
  const struct {
    const char* name;
    TrustOptions options;
    TrustEnvironment environment;
    std::optional<Kind> problem;
    std::string at;  // the problem's path; the anchors' location
    Source source;
  } kCases[] = {
      {"nothing", {}, {}, {}, "", Source::kSystem},
      {"the environment",
       {},
       {true, env_folder, synced},
       Kind::kNotLoaded,
       env_folder,
       {}},
      {"the synced folder",
       {},
       {false, "", synced},
       Kind::kNotLoaded,
       synced,
       {}},
      {"the environment set but empty",
       {},
       {true, "", synced},
       {},
       "",
       Source::kSystem},
      {"--windows-trust over it",
       {"", option_folder},
       {true, env_folder, ""},
       Kind::kNotLoaded,
       option_folder,
       {}},
      {"--anchors",
       {pem, ""},
       {false, "", synced},
       {},
       pem,
       Source::kSystemAndPemFile},
      {"--anchors that does not open",
       {missing, ""},
       {true, env_folder, ""},
       Kind::kAnchorsFile,
       missing,
       {}},
      {"--anchors that is a FIFO",
       {fifo, ""},
       {},
       Kind::kAnchorsFile,
       fifo,
       {}},
      {"--anchors with --windows-trust",
       {missing, option_folder},
       {},
       Kind::kAnchorsWithWindowsTrust,
       "",
       {}},
      {"--anchors with the environment",
       {pem, ""},
       {true, env_folder, ""},
       Kind::kAnchorsWithEnvironment,
       "",
       {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const TrustChoice choice = ChooseTrust(c.options, c.environment);
    ASSERT_EQ(choice.problem.has_value(), c.problem.has_value());
    ASSERT_EQ(choice.anchors.has_value(), !c.problem.has_value());
    if (c.problem) {
      EXPECT_EQ(choice.problem->kind, *c.problem);
      EXPECT_EQ(choice.problem->path, c.at);
      EXPECT_EQ(choice.problem->load_error.has_value(),
                *c.problem == Kind::kNotLoaded);
    } else {
      EXPECT_EQ(choice.anchors->source(), c.source);
      EXPECT_EQ(choice.anchors->location(), c.at);
    }
  }
}

}  // namespace
}  // namespace sealprobe

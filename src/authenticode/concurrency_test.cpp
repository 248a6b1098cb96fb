// Verifying on several threads with one TrustAnchors gives every file the
// verdicts, and the evidence, it gets alone.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "authenticode/authenticode.h"
#include "authenticode/openssl_ptr.h"
#include "testing/test_support.h"

namespace sealprobe {
namespace {

// What a chain came to: its status, the fault that decided, and the
// subject of the certificate it ends in and how that one is trusted.
std::string ChainOutcome(const std::optional<ChainResult>& chain) {
  if (!chain) return "-";
  std::string out = std::to_string(chain->status);
  if (const ChainProblem* deciding = chain->deciding()) {
    out += "/" + std::to_string(static_cast<int>(deciding->fault)) + "@" +
           std::to_string(deciding->depth);
  }
  const int top = sk_X509_num(chain->chain.get()) - 1;
  if (top >= 0) {
    char name[256];
    X509_NAME_oneline(
        X509_get_subject_name(sk_X509_value(chain->chain.get(), top)), name,
        sizeof(name));
    out += std::string(" ") + name;
  }
  return out + " anchor " + std::to_string(chain->anchor_depth) + "/" +
         std::to_string(static_cast<int>(chain->anchor_source));
}

// What the verification of each signature decided, the primary's first
// (VerifyAuthenticodeFile's), in one string to compare and print.
std::string Outcome(const std::string& path, TrustAnchors& anchors) {
  std::string out;
  for (const Verification& v : VerifyEverySignatureFile(path, anchors)) {
    char codes[48];
    std::snprintf(codes, sizeof(codes), "%08x/%08x rule %d ", v.result.status,
                  v.result.last_error, static_cast<int>(v.rule));
    out += codes + ChainOutcome(v.chain) + " | " +
           ChainOutcome(v.authority_chain) + "; ";
  }
  return out;
}

// A folder OpenSSL's store reads by subject hash, holding root.crt only:
// its lookups happen while chains are built, on the threads building them.
bool MakeHashedFolder(const TempFolder& dir) {
  std::FILE* pem = std::fopen(FixturePath("pki/root.crt").c_str(), "r");
  if (pem == nullptr) return false;
  const ossl::X509Ptr root(PEM_read_X509(pem, nullptr, nullptr, nullptr));
  std::fclose(pem);
  if (!root) return false;
  char name[16];
  std::snprintf(name, sizeof(name), "%08lx.0",
                X509_subject_name_hash(root.get()));
  std::ifstream in(FixturePath("pki/root.crt"));
  std::ofstream(dir / name) << in.rdbuf();
  return true;
}

TEST(ConcurrencyTest, SharedAnchorsGiveEachFileItsOwnVerdict) {
  ASSERT_FALSE(FixturePath("").empty()) << "SEALPROBE_FIXTURES is not set";
  std::vector<std::string> files;
  std::ifstream list(FixturePath("files/expected.txt"));
  for (std::string name, hex; list >> name >> hex;) {
    files.push_back(FixturePath("files/" + name));
  }
  ASSERT_GE(files.size(), 25u);
  TempFolder hashed;
  ASSERT_TRUE(hashed.ok() && MakeHashedFolder(hashed));
  const ScopedEnvironmentVariable cert_dir("SSL_CERT_DIR", hashed / "");
  const ScopedEnvironmentVariable cert_file("SSL_CERT_FILE", hashed / "none");

  // The system store (a hashed folder), PEM anchors, Windows' root program
  // with and without a root that signatures carry.
  const auto make = [](const std::string& store) {
    if (store.empty()) return TrustAnchors::SystemDefault();
    if (store.rfind("windows/", 0) != 0) return TrustAnchors::FromFile(store);
    return TrustAnchors::WindowsRootProgram(FixturePath(store));
  };
  const std::string kStores[] = {"", FixturePath("pki/anchors.pem"),
                                 "windows/program", "windows/bare"};
  constexpr int kThreads = 4;
  constexpr size_t kRounds = 6;
  for (const auto& store : kStores) {
    SCOPED_TRACE(store);
    std::vector<std::string> alone;
    for (const std::string& file : files) {
      TrustAnchors fresh = make(store);
      alone.push_back(Outcome(file, fresh));
    }
    // One after another on one store: no verdict depends on the files
    // verified before it.
    TrustAnchors sequential = make(store);
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(Outcome(files[i], sequential), alone[i]) << files[i];
    }
    // Loaded by whichever thread needs it first.
    TrustAnchors shared = make(store);
    std::atomic<size_t> next{0};
    std::vector<std::vector<std::string>> wrong(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (size_t i; (i = next++) < kRounds * files.size();) {
          const size_t f = i % files.size();
          const std::string got = Outcome(files[f], shared);
          if (got != alone[f]) wrong[t].push_back(files[f] + ": " + got);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (const auto& found : wrong) {
      EXPECT_TRUE(found.empty())
          << found.size() << " differ, first " << found.front();
    }
  }
}

}  // namespace
}  // namespace sealprobe

#include "explain/formats/text_renderer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {
namespace {

struct ExtensionDeleter {
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, ExtensionDeleter>;

// A certificate for CN=`cn` with `key`, issued by `issuer` with
// `issuer_key` (by itself when `issuer` is null), with these key usage and
// basic constraints (in OpenSSL's configuration syntax).
ossl::X509Ptr Issue(const std::string& cn, EVP_PKEY* key, X509* issuer,
                    EVP_PKEY* issuer_key, const char* key_usage,
                    const char* basic_constraints) {
  ossl::X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN",
                             MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(cn.data()),
                             static_cast<int>(cn.size()), -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  X509_set_pubkey(cert.get(), key);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, signer, cert.get(), nullptr, nullptr, 0);
  for (const auto& [nid, value] :
       {std::pair{NID_key_usage, key_usage},
        {NID_basic_constraints, basic_constraints}}) {
    const ExtensionPtr extension(
        X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    EXPECT_TRUE(extension && X509_add_ext(cert.get(), extension.get(), -1));
  }
  EXPECT_GT(X509_sign(cert.get(), issuer_key, EVP_sha256()), 0);
  return cert;
}

// A record as the verifier makes it for the signer CN=`signer` under a CA
// whose key usage leaves out certificate signing, in a file whose name is
// `file`.
FileRecord WrongUsage(const std::string& file, const std::string& signer) {
  const ossl::EvpPkeyPtr root_key(EVP_EC_gen("P-256"));
  const ossl::EvpPkeyPtr ca_key(EVP_EC_gen("P-256"));
  const ossl::EvpPkeyPtr leaf_key(EVP_EC_gen("P-256"));
  ossl::X509Ptr root =
      Issue("SealProbe Test Root", root_key.get(), nullptr, root_key.get(),
            "critical,keyCertSign,cRLSign", "critical,CA:TRUE");
  ossl::X509Ptr ca = Issue(
      "SealProbe Test CA Without keyCertSign", ca_key.get(), root.get(),
      root_key.get(), "critical,digitalSignature,cRLSign", "critical,CA:TRUE");
  ossl::X509Ptr leaf = Issue(signer, leaf_key.get(), ca.get(), ca_key.get(),
                             "critical,digitalSignature", "critical,CA:FALSE");
  FileRecord r;
  r.file = file;
  r.verdict = "Error is: 0x800b0110.";
  Verification& v = r.verification;
  v.result = {0x800b0110, 0x800b0110};
  v.rule = Rule::kSignerChain;
  PeImage image;
  image.pe32_plus = true;
  image.machine = 0x8664;
  image.cert_table_offset = 14848;
  image.cert_table_size = 2400;
  v.image = image;
  v.stamp = StampCheck();
  v.checked_at = CheckingTime{std::time(nullptr), CheckingTime::Basis::kNow};
  ChainResult chain;
  chain.chain.reset(sk_X509_new_null());
  for (X509* cert : {leaf.release(), ca.release(), root.release()}) {
    sk_X509_push(chain.chain.get(), cert);
  }
  v.signer = SignerCheck{SignerCheck::Outcome::kVerified,
                         sk_X509_value(chain.chain.get(), 0), nullptr};
  ChainProblem problem;
  problem.depth = 1;
  problem.fault = ChainFault::kWrongUsage;
  problem.finding = Finding::kIssuerCannotSign;
  chain.problems = {problem};
  chain.deciding_index = 0;
  chain.status = v.result.status;
  chain.anchor_depth = 2;
  v.chain = std::move(chain);
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The excerpt of a human report in docs/verifier.md: the fenced block that
// starts with the file's name.
std::string DocumentedExcerpt() {
  const char* root = std::getenv("SEALPROBE_SOURCE_DIR");
  std::ifstream doc(std::string(root != nullptr ? root : ".") +
                    "/docs/verifier.md");
  std::string excerpt;
  bool in = false;
  for (std::string line; std::getline(doc, line);) {
    if (line == "staging/TarvoPanel.exe") in = true;
    if (in && line.rfind("```", 0) == 0) break;
    if (in) excerpt += line + "\n";
  }
  return excerpt;
}

// Whether `output` holds the lines of `excerpt`, in order; a line "..."
// (indented or not) stands for any lines, none included, and the others
// follow one another.
bool HoldsExcerpt(const std::string& output, const std::string& excerpt) {
  const std::vector<std::string> have = Lines(output);
  size_t from = 0;  // where the next run may start
  std::vector<std::string> run;
  const auto place = [&]() {
    for (size_t at = from; at + run.size() <= have.size(); ++at) {
      if (std::equal(run.begin(), run.end(), have.begin() + at)) {
        from = at + run.size();
        run.clear();
        return true;
      }
    }
    return run.empty();
  };
  for (const std::string& line : Lines(excerpt)) {
    if (line.find_first_not_of(' ') == line.find("...")) {
      if (!place()) return false;
    } else {
      run.push_back(line);
    }
  }
  return place();
}

TEST(HumanReportTest, ReportsAsDocumentedWithNothingToSteerTheTerminal) {
  const std::string evil_file = "staging/\x1b]0;owned\x07Panel.exe";
  const std::string evil_cn =
      "Evil\x1b[2J\xc2\x9b"
      "31m";
  const struct {
    const char* name;
    FileRecord report;
    bool colour;
    std::string excerpt;
  } kCases[] = {
      {"the excerpt in docs/verifier.md",
       WrongUsage("staging/TarvoPanel.exe", "SealProbe Test nocertsign-signer"),
       false, DocumentedExcerpt()},
      {"ESC and CSI in a subject and a file name, in colour",
       WrongUsage(evil_file, evil_cn), true,
       "staging/?]0;owned?Panel.exe\n"
       "  \x1b[31m\u2717\x1b[0m Error is: 0x800b0110.\n"
       "...\n"
       "  signer      CN=Evil?[2J?31m\n"
       "...\n"
       "    \u2713 CN=Evil?[2J?31m\n"
       "...\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.excerpt.find('\n'), std::string::npos);
    const std::string out = HumanReport(c.report, c.colour);
    EXPECT_TRUE(HoldsExcerpt(out, c.excerpt)) << out;
    // Only the marks' colours may be ESC sequences; no other control, C1
    // included, reaches the terminal.
    std::string bare = out;
    for (const char* colour : {"\x1b[31m", "\x1b[0m"}) {
      for (size_t at; (at = bare.find(colour)) != std::string::npos;) {
        bare.erase(at, std::string(colour).size());
      }
    }
    for (size_t i = 0; i < bare.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bare[i]);
      EXPECT_FALSE((byte < 0x20 && byte != '\n') || byte == 0x7f ||
                   (byte == 0xc2 && i + 1 < bare.size() &&
                    static_cast<unsigned char>(bare[i + 1]) < 0xa0))
          << "octet " << i;
    }
  }
}

}  // namespace
}  // namespace sealprobe

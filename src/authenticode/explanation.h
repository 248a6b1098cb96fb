// What the verifier found on its way to a file's status, for the release
// engineer who has to mend the file: filled by VerifyAuthenticode, when
// asked, from the very checks that decide the status, never from a second
// copy of the rules.
#ifndef SEALPROBE_AUTHENTICODE_EXPLANATION_H_
#define SEALPROBE_AUTHENTICODE_EXPLANATION_H_

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace sealprobe {

// A certificate as a person reads it. Empty strings stand for what it does
// not have (an extension left out).
struct CertificateFacts {
  std::string subject;  // RFC 2253 form
  std::string issuer;
  std::string serial;      // hexadecimal
  std::string not_before;  // ISO 8601, UTC
  std::string not_after;
  std::string key;                    // "RSA 2048 bits", "EC P-256", ...
  std::string signature_algorithm;    // how its issuer signed it
  std::string key_usage;              // "Digital Signature, ..."
  std::string extended_key_usage;     // "Code Signing, ..."
  std::string basic_constraints;      // "CA:TRUE, pathlen:0", "CA:FALSE"
  std::vector<std::string> problems;  // every fault found on it
};

CertificateFacts DescribeCertificate(X509* cert);

// A chain as it was built and judged.
struct ChainFacts {
  bool checked = false;
  std::vector<CertificateFacts> certificates;  // end certificate first
  std::vector<std::string> problems;           // faults of the chain as a whole
  // The subject of the anchor the chain ended in, and how it is trusted
  // ("in the store", "listed in the CTL", "built into Windows"); empty when
  // it ended in none.
  std::string anchor;
  std::string anchor_source;
};

struct Explanation {
  struct Image {
    bool parsed = false;  // the rest is known only when it is a PE image
    bool pe32_plus = false;
    uint16_t machine = 0;
    bool has_table = false;
    uint32_t table_offset = 0;
    uint32_t table_size = 0;
    std::string digest;  // of the image hash, once the signature is read
    std::optional<bool> hash_matches;  // once the hash is computed
  } image;

  struct Signer {
    std::string digest_algorithm;
    std::string signature_algorithm;
    std::optional<CertificateFacts> certificate;  // once found
  } signer;

  ChainFacts chain;  // the signer's

  struct Timestamp {
    enum class Kind { kNone, kRfc3161, kLegacy };
    Kind kind = Kind::kNone;
    std::optional<std::time_t> time;
    std::optional<CertificateFacts> authority;
    std::string status;  // "valid", or what is wrong with it
    ChainFacts chain;    // the authority's, when it was judged
  } timestamp;

  struct CheckedAt {
    enum class Why { kNotChecked, kStamp, kNow, kLifetimeSigning };
    Why why = Why::kNotChecked;
    std::time_t time = 0;
  } checked_at;

  // The rule that decided the status, in words, and the subject of the
  // certificate it was found on (empty when it is no certificate's).
  std::string decided_by;
  std::string decided_on;
  // When a property of Windows' root program decided: its name and date
  // (ChainProblem::property).
  std::string decided_property;
  std::optional<std::time_t> decided_property_date;
};

// `time` as ISO 8601 in UTC: "2024-01-01T00:00:00Z".
std::string FormatTime(std::time_t time);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_EXPLANATION_H_

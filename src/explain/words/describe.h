// Certificates, times, algorithms and stores as a person reads them, made
// from the verifier's evidence when a report asks for them. Text here is as the
// evidence holds it, control characters included: each rendering makes it
// safe its own way (TerminalSafe for a person, escapes in JSON).
#ifndef SEALPROBE_EXPLAIN_WORDS_DESCRIBE_H_
#define SEALPROBE_EXPLAIN_WORDS_DESCRIBE_H_

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "explain/decide/file_record.h"

#include "authenticode/compound_file.h"
#include "hex.h"

namespace sealprobe {

// A certificate as a person reads it. Empty strings stand for what it does
// not have (an extension left out).
struct CertificateFacts {
  std::string subject;  // RFC 2253 form, UTF-8, nothing else escaped
  std::string issuer;
  std::string serial;      // hexadecimal
  std::string not_before;  // ISO 8601, UTC
  std::string not_after;
  std::string key;                  // "RSA 2048 bits", "EC P-256", ...
  std::string signature_algorithm;  // how its issuer signed it
  std::string key_usage;            // "critical: Digital Signature, ..."
  std::string extended_key_usage;   // "Code Signing, ..."
  std::string basic_constraints;    // "critical: CA:TRUE, pathlen:0"
};

CertificateFacts DescribeCertificate(X509* cert);

// Its subject alone, as DescribeCertificate gives it; empty for null.
std::string SubjectOf(X509* cert);

// A CLSID as Windows writes one, its first three fields read
// little-endian: "{000C1084-0000-0000-C000-000000000046}".
std::string ClsidText(const Clsid& clsid);

// The SHA-256 (or, without `sha256`, SHA-1) of `cert`'s DER, as it came
// (certificate_bytes.h), in lowercase hexadecimal, as --signer takes it;
// empty for null.
std::string CertificateDigest(X509* cert, bool sha256);

// `time` as ISO 8601 in UTC: "2024-01-01T00:00:00Z".
std::string FormatTime(std::time_t time);

// An algorithm's long name, "sha256", "rsaEncryption".
std::string AlgorithmName(const X509_ALGOR* algorithm);

// The facts of the store a run judged by, each a name and its value, for
// the formats that list a run's properties: "store" (its name in JSON,
// names.h), then those known of "location", "ctl_this_update",
// "ctl_sequence_number", "origin" (where sealprobe-roots fetched the root
// program from, or "import"), "fetched" and "disallowed_list" ("yes" or
// "no").
std::vector<std::pair<std::string, std::string>> TrustFields(
    const TrustFacts& trust);

// A COFF Machine value: "x64", "x86", "ARM64", "ARM", "machine 0x1234".
std::string MachineName(uint16_t machine);

}  // namespace sealprobe

#endif  // SEALPROBE_EXPLAIN_WORDS_DESCRIBE_H_

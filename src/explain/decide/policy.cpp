#include "explain/decide/policy.h"

#include <openssl/x509.h>

#include <algorithm>

#include "authenticode/certificate_bytes.h"

namespace sealprobe {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether a digest (SHA-1 or SHA-256, by its size) of `cert`'s DER, as it
// came (certificate_bytes.h), is one of `policy`'s.
bool Pinned(X509* cert, const Policy& policy) {
  if (policy.signers.empty()) return true;
  if (cert == nullptr) return false;
  const Sha1 sha1 = Sha1Of(cert);
  const Sha256 sha256 = Sha256Of(cert);
  for (const std::vector<uint8_t>& digest : policy.signers) {
    if (digest.size() == sha1.size()
            ? std::equal(digest.begin(), digest.end(), sha1.begin())
            : digest.size() == sha256.size() &&
                  std::equal(digest.begin(), digest.end(), sha256.begin())) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseCertificateDigest(
    const std::string& text) {
  std::vector<uint8_t> digest;
  // Colons go between pairs, all of them or none.
  const bool colons = text.find(':') != std::string::npos;
  const size_t step = colons ? 3 : 2;
  if (colons && (text.size() + 1) % 3 != 0) return std::nullopt;
  for (size_t i = 0; i < text.size(); i += step) {
    const int high = HexDigit(text[i]);
    const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    const bool separated =
        !colons || i + 2 == text.size() || text[i + 2] == ':';
    if (high < 0 || low < 0 || !separated) return std::nullopt;
    digest.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  if (digest.size() != 20 && digest.size() != 32) return std::nullopt;
  return digest;
}

std::optional<PolicyFault> CheckPolicy(
    const std::vector<Verification>& signatures, const Policy& policy) {
  if (signatures.empty() || signatures[0].result.status != 0) {
    return std::nullopt;
  }
  const size_t count = policy.all_signatures ? signatures.size() : 1;
  using Kind = PolicyFault::Kind;
  for (size_t i = 0; i < count; ++i) {
    const Verification& v = signatures[i];
    if (v.result.status != 0) return PolicyFault{Kind::kSignatureInvalid, i};
    if (!Pinned(v.signer ? v.signer->certificate : nullptr, policy)) {
      return PolicyFault{Kind::kSignerNotPinned, i};
    }
    if (policy.require_timestamp && !(v.stamp && v.stamp->valid())) {
      return PolicyFault{Kind::kNoTimestamp, i};
    }
  }
  return std::nullopt;
}

}  // namespace sealprobe

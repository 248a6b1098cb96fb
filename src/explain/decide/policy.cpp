#include "explain/decide/policy.h"

#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "authenticode/certificate_bytes.h"
#include "authenticode/openssl_ptr.h"

namespace sealprobe {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether a digest (SHA-1 or SHA-256, by its size) of `cert`'s DER, as it
// came (certificate_bytes.h), is one of `digests`.
bool OneOf(X509* cert, const std::vector<std::vector<uint8_t>>& digests) {
  if (cert == nullptr) return false;
  const Sha1 sha1 = Sha1Of(cert);
  const Sha256 sha256 = Sha256Of(cert);
  for (const std::vector<uint8_t>& digest : digests) {
    if (digest.size() == sha1.size()
            ? std::equal(digest.begin(), digest.end(), sha1.begin())
            : digest.size() == sha256.size() &&
                  std::equal(digest.begin(), digest.end(), sha256.begin())) {
      return true;
    }
  }
  return false;
}

// Whether `cert`'s extended key usage names one of `oids`; one that does
// not decode names none.
bool NamesUsage(X509* cert, const std::vector<std::string>& oids) {
  if (cert == nullptr) return false;
  const ossl::EkuPtr eku(static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr)));
  for (const std::string& text : oids) {
    const ossl::Asn1ObjectPtr wanted(OBJ_txt2obj(text.c_str(), 1));
    for (int i = 0; wanted && i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
      if (OBJ_cmp(sk_ASN1_OBJECT_value(eku.get(), i), wanted.get()) == 0) {
        return true;
      }
    }
  }
  return false;
}

// Whether a certificate above the signer's in `v`'s chain, as built, is
// one of `digests`.
bool ChainIncludes(const Verification& v,
                   const std::vector<std::vector<uint8_t>>& digests) {
  if (!v.chain) return false;
  for (int depth = 1; depth < sk_X509_num(v.chain->chain.get()); ++depth) {
    if (OneOf(v.chain->CertificateAt(depth), digests)) return true;
  }
  return false;
}

// The pin of `policy` that the signer of `v` fails, if any: each kind
// given must hold, by any of its values.
std::optional<PolicyFault::Kind> PinFault(const Verification& v,
                                          const Policy& policy) {
  using Kind = PolicyFault::Kind;
  X509* signer = v.signer ? v.signer->certificate : nullptr;
  if (!policy.signers.empty() && !OneOf(signer, policy.signers)) {
    return Kind::kSignerNotPinned;
  }
  if (!policy.signer_ekus.empty() && !NamesUsage(signer, policy.signer_ekus)) {
    return Kind::kSignerEkuNotPinned;
  }
  if (!policy.chain_includes.empty() &&
      !ChainIncludes(v, policy.chain_includes)) {
    return Kind::kChainNotPinned;
  }
  return std::nullopt;
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

std::optional<std::string> ParseObjectIdentifier(const std::string& text) {
  // OpenSSL takes a name too, spaces and an empty arc; only digits
  // between dots are one.
  if (text.empty() || text.front() == '.' || text.back() == '.' ||
      text.find("..") != std::string::npos ||
      text.find_first_not_of("0123456789.") != std::string::npos) {
    return std::nullopt;
  }
  const ossl::Asn1ObjectPtr oid(OBJ_txt2obj(text.c_str(), 1));
  if (!oid) return std::nullopt;
  const int size = OBJ_obj2txt(nullptr, 0, oid.get(), 1);
  if (size <= 0) return std::nullopt;
  std::vector<char> canonical(static_cast<size_t>(size) + 1);
  OBJ_obj2txt(canonical.data(), size + 1, oid.get(), 1);
  return std::string(canonical.data());
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
    if (const std::optional<Kind> pin = PinFault(v, policy)) {
      return PolicyFault{*pin, i};
    }
    if (policy.require_timestamp && !(v.stamp && v.stamp->valid())) {
      return PolicyFault{Kind::kNoTimestamp, i};
    }
  }
  return std::nullopt;
}

}  // namespace sealprobe

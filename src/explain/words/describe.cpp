#include "explain/words/describe.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "authenticode/certificate_bytes.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/signed_data.h"
#include "explain/words/names.h"
#include "utc_time.h"

namespace sealprobe {
namespace {

constexpr unsigned long kRsaUsualExponent = 65537;

// What OpenSSL printed into `bio` (an extension, over several lines), on
// one line.
std::string Drain(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string text(data != nullptr && size > 0 ? data : "",
                   size > 0 ? static_cast<size_t>(size) : 0);
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// RFC 2253, but with UTF-8 and control characters kept as they are rather
// than escaped: a rendering escapes them its own way, and JSON can then
// give them exactly.
std::string NameText(const X509_NAME* name) {
  const ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  constexpr unsigned long kFlags =
      XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~ASN1_STRFLGS_ESC_CTRL;
  if (!bio || name == nullptr ||
      X509_NAME_print_ex(bio.get(), name, 0, kFlags) < 0) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size))
                  : std::string();
}

std::string SerialText(const ASN1_INTEGER* serial) {
  const ossl::BignumPtr number(ASN1_INTEGER_to_BN(serial, nullptr));
  if (!number) return {};
  const ossl::OpenSslBuffer hex(
      reinterpret_cast<unsigned char*>(BN_bn2hex(number.get())));
  return hex ? reinterpret_cast<const char*>(hex.get()) : "";
}

std::string TimeText(const ASN1_TIME* time) {
  const std::optional<std::time_t> when = ToUnixTime(time);
  return when ? FormatTime(*when) : "(not a valid time)";
}

std::string KeyText(X509* cert) {
  EVP_PKEY* key = X509_get0_pubkey(cert);  // owned by `cert`
  if (key == nullptr) return "a key that does not decode";
  const int type = EVP_PKEY_get_base_id(key);
  const std::string bits = std::to_string(EVP_PKEY_get_bits(key)) + " bits";
  switch (type) {
    case EVP_PKEY_RSA: {
      std::string text = "RSA " + bits;
      BIGNUM* raw = nullptr;
      if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &raw) == 1) {
        const ossl::BignumPtr exponent(raw);
        if (!BN_is_word(exponent.get(), kRsaUsualExponent)) {
          const ossl::OpenSslBuffer dec(
              reinterpret_cast<unsigned char*>(BN_bn2dec(exponent.get())));
          if (dec) {
            text += ", exponent ";
            text += reinterpret_cast<const char*>(dec.get());
          }
        }
      }
      return text;
    }
    case EVP_PKEY_EC: {
      char group[80] = {};
      if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group,
                                         sizeof(group), nullptr) != 1) {
        return "EC, explicit curve parameters";
      }
      const char* nist = EC_curve_nid2nist(OBJ_sn2nid(group));
      return std::string("EC ") + (nist != nullptr ? nist : group);
    }
    default: {
      const char* name = OBJ_nid2sn(type);
      return std::string(name != nullptr ? name : "unknown key") + " " + bits;
    }
  }
}

// The extension `nid` of `cert` as OpenSSL prints it; empty when absent.
std::string ExtensionText(X509* cert, int nid) {
  const int at = X509_get_ext_by_NID(cert, nid, -1);
  if (at < 0) return {};
  X509_EXTENSION* extension = X509_get_ext(cert, at);
  const ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || X509V3_EXT_print(bio.get(), extension, 0, 0) != 1) {
    return "(does not decode)";
  }
  std::string text = Drain(bio.get());
  if (X509_EXTENSION_get_critical(extension)) text = "critical: " + text;
  return text;
}

}  // namespace

CertificateFacts DescribeCertificate(X509* cert) {
  CertificateFacts facts;
  if (cert == nullptr) return facts;
  facts.subject = SubjectOf(cert);
  facts.issuer = NameText(X509_get_issuer_name(cert));
  facts.serial = SerialText(X509_get0_serialNumber(cert));
  facts.not_before = TimeText(X509_get0_notBefore(cert));
  facts.not_after = TimeText(X509_get0_notAfter(cert));
  facts.key = KeyText(cert);
  const char* algorithm = OBJ_nid2ln(X509_get_signature_nid(cert));
  facts.signature_algorithm = algorithm != nullptr ? algorithm : "unknown";
  facts.key_usage = ExtensionText(cert, NID_key_usage);
  facts.extended_key_usage = ExtensionText(cert, NID_ext_key_usage);
  facts.basic_constraints = ExtensionText(cert, NID_basic_constraints);
  return facts;
}

std::string SubjectOf(X509* cert) {
  return cert != nullptr ? NameText(X509_get_subject_name(cert))
                         : std::string();
}

std::string ClsidText(const Clsid& clsid) {
  // Data1, Data2 and Data3 are stored little-endian, Data4 as it is.
  const std::string upper =
      HexOf(std::array<uint8_t, 16>{clsid[3], clsid[2], clsid[1], clsid[0],
                                    clsid[5], clsid[4], clsid[7], clsid[6],
                                    clsid[8], clsid[9], clsid[10], clsid[11],
                                    clsid[12], clsid[13], clsid[14], clsid[15]},
            HexCase::kUpper);
  return "{" + upper.substr(0, 8) + "-" + upper.substr(8, 4) + "-" +
         upper.substr(12, 4) + "-" + upper.substr(16, 4) + "-" +
         upper.substr(20) + "}";
}

std::string CertificateDigest(X509* cert, bool sha256) {
  if (cert == nullptr) return {};
  if (sha256) {
    const Sha256 digest = Sha256Of(cert);
    return HexOf(digest);
  }
  const Sha1 digest = Sha1Of(cert);
  return HexOf(digest);
}

std::string FormatTime(std::time_t time) {
  return UtcText(time).value_or("(not a valid time)");
}

std::vector<std::pair<std::string, std::string>> TrustFields(
    const TrustFacts& trust) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"store", StoreName(trust.source)}};
  if (!trust.location.empty()) fields.emplace_back("location", trust.location);
  if (trust.ctl_this_update) {
    fields.emplace_back("ctl_this_update", FormatTime(*trust.ctl_this_update));
  }
  if (!trust.ctl_sequence_number.empty()) {
    fields.emplace_back("ctl_sequence_number", trust.ctl_sequence_number);
  }
  if (trust.origin) {
    fields.emplace_back("origin", trust.origin->source);
    fields.emplace_back("fetched", FormatTime(trust.origin->fetched));
  }
  // Only Windows' root program has one to hold or not.
  if (trust.ctl_this_update) {
    fields.emplace_back("disallowed_list",
                        trust.disallowed_list ? "yes" : "no");
  }
  return fields;
}

std::string AlgorithmName(const X509_ALGOR* algorithm) {
  const ASN1_OBJECT* oid = nullptr;
  if (algorithm != nullptr) X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  const char* name = OBJ_nid2ln(OBJ_obj2nid(oid));
  return name != nullptr ? name : "an unknown algorithm";
}

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case 0x8664:
      return "x64";
    case 0x14c:
      return "x86";
    case 0xaa64:
      return "ARM64";
    case 0x1c4:
      return "ARM";
    default: {
      char text[24];
      std::snprintf(text, sizeof(text), "machine 0x%x",
                    static_cast<unsigned>(machine));
      return text;
    }
  }
}

}  // namespace sealprobe

#include "authenticode/root_program/list_signature.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "authenticode/der_limits.h"
#include "authenticode/openssl_ptr.h"
#include "authenticode/root_program/trust_list.h"
#include "authenticode/signed_data.h"

namespace sealprobe {
namespace {

// A name in RFC 2253's order, UTF-8 left as it is; empty when it does not
// print.
std::string NameText(const X509_NAME* name) {
  const ossl::BioPtr bio(BIO_new(BIO_s_mem()));
  constexpr unsigned long kFlags =
      XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~ASN1_STRFLGS_ESC_CTRL;
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, kFlags) < 0) return {};
  char* text = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &text);
  return size > 0 ? std::string(text, static_cast<size_t>(size))
                  : std::string();
}

// Whether `cert`'s extendedKeyUsage names `usage`; nullopt when it has
// none (or one that does not decode, which counts as naming nothing).
std::optional<bool> NamesUsage(X509* cert, const ASN1_OBJECT* usage) {
  int critical = 0;
  const ossl::EkuPtr eku(static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
  if (!eku) {
    // -1: no such extension; anything else: there, but not readable.
    if (critical == -1) return std::nullopt;
    return false;
  }
  for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
    if (OBJ_cmp(sk_ASN1_OBJECT_value(eku.get(), i), usage) == 0) return true;
  }
  return false;
}

// The signer of the SignedData `pkcs7`, checked over its content; null
// when it does not verify.
X509* VerifiedSigner(PKCS7* pkcs7) {
  if (!PKCS7_type_is_signed(pkcs7) || pkcs7->d.sign == nullptr ||
      pkcs7->d.sign->contents == nullptr ||
      pkcs7->d.sign->contents->d.other == nullptr) {
    return nullptr;
  }
  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7);
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) return nullptr;
  const std::optional<ByteView> octets =
      ContentOctets(pkcs7->d.sign->contents->d.other);
  if (!octets) return nullptr;
  const SignerCheck check = CheckSigner(sk_PKCS7_SIGNER_INFO_value(signers, 0),
                                        pkcs7->d.sign->cert, nullptr, *octets);
  return check.outcome == SignerCheck::Outcome::kVerified ? check.certificate
                                                          : nullptr;
}

// The chain from `signer` through `carried` to `root` alone, valid at
// `when`; the verified chain, or null with `result` saying why.
ossl::X509StackPtr ChainToRoot(X509* signer, STACK_OF(X509) * carried,
                               X509* root, std::time_t when,
                               ListSignature* result) {
  const ossl::X509StorePtr store(X509_STORE_new());
  const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!store || !ctx || X509_STORE_add_cert(store.get(), root) != 1 ||
      X509_STORE_CTX_init(ctx.get(), store.get(), signer, carried) != 1) {
    result->fault = ListSignatureFault::kNoChain;
    result->detail = "out of memory";
    return nullptr;
  }
  X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), when);
  if (X509_verify_cert(ctx.get()) != 1) {
    result->fault = ListSignatureFault::kNoChain;
    result->detail =
        X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
    result->depth = X509_STORE_CTX_get_error_depth(ctx.get());
    return nullptr;
  }
  return ossl::X509StackPtr(X509_STORE_CTX_get1_chain(ctx.get()));
}

// The usage rule over a verified `chain` (signer first, root last).
void CheckUsages(STACK_OF(X509) * chain, ListSignature* result) {
  const ossl::Asn1ObjectPtr usage(OBJ_txt2obj(kRootListSignerUsage, 1));
  const int count = sk_X509_num(chain);
  for (int depth = 0; usage && depth + 1 < count; ++depth) {
    const std::optional<bool> names =
        NamesUsage(sk_X509_value(chain, depth), usage.get());
    // The signer must say it signs lists; a CA above it may say nothing,
    // but one that narrows its uses must keep this one (Windows nests
    // extended key usages down a chain).
    if (depth == 0 ? names != true : names == false) {
      result->fault = depth == 0 ? ListSignatureFault::kSignerUsage
                                 : ListSignatureFault::kIssuerUsage;
      result->depth = depth;
      return;
    }
  }
  if (!usage) {
    result->fault = ListSignatureFault::kSignerUsage;
    result->detail = "out of memory";
  }
}

template <typename Digest>
std::optional<Digest> ParseHex(const std::string& hex) {
  Digest out{};
  if (hex.size() != 2 * out.size()) return std::nullopt;
  const auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < out.size(); ++i) {
    const int high = nibble(hex[2 * i]);
    const int low = nibble(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return out;
}

}  // namespace

ListSignature AuthenticateTrustList(const uint8_t* der, size_t size,
                                    const uint8_t* root, size_t root_size,
                                    std::time_t when) {
  ListSignature result;
  // The same walk ReadTrustList makes before OpenSSL decodes anything.
  SignatureLimits caps;
  caps.elements = TrustListLimits().elements;
  const unsigned char* p = der;
  const ossl::Pkcs7Ptr pkcs7(
      CheckSignatureLimits(der, size, caps) ==
              SignatureLimitCheck::kWithinLimits
          ? d2i_PKCS7(nullptr, &p, static_cast<long>(size))
          : nullptr);
  X509* signer = pkcs7 ? VerifiedSigner(pkcs7.get()) : nullptr;
  ERR_clear_error();
  if (signer == nullptr) {
    result.fault = ListSignatureFault::kNotSigned;
    return result;
  }
  result.signer = NameText(X509_get_subject_name(signer));
  result.issuer = NameText(X509_get_issuer_name(signer));
  if (root == nullptr) return result;
  const ossl::X509Ptr anchor = DecodeCertificate(root, root_size);
  if (!anchor) {
    result.fault = ListSignatureFault::kBadRoot;
    return result;
  }
  const ossl::X509StackPtr chain =
      ChainToRoot(signer, pkcs7->d.sign->cert, anchor.get(), when, &result);
  ERR_clear_error();
  if (!chain) return result;
  // The store holds the root alone, so the chain can end nowhere else; but
  // the root is known by its bytes, and OpenSSL's own copy is compared.
  const int count = sk_X509_num(chain.get());
  if (count < 2 || Sha256Of(sk_X509_value(chain.get(), count - 1)) !=
                       Sha256Of(anchor.get())) {
    result.fault = ListSignatureFault::kNoChain;
    result.detail = count < 2 ? "the root signs the list itself"
                              : "the chain ends in another root";
    result.depth = count - 1;
    return result;
  }
  CheckUsages(chain.get(), &result);
  return result;
}

std::optional<Sha256> ParseSha256(const std::string& hex) {
  return ParseHex<Sha256>(hex);
}

std::optional<Sha1> ParseSha1(const std::string& hex) {
  return ParseHex<Sha1>(hex);
}

}  // namespace sealprobe

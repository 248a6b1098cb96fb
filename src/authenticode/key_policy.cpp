#include "authenticode/key_policy.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include "authenticode/openssl_ptr.h"

namespace sealprobe {
namespace {

constexpr int kMaxRsaExponentBits = 32;

bool AlgorithmFitsKey(const X509_ALGOR* algorithm, X509* cert) {
  if (algorithm == nullptr || cert == nullptr) return false;
  const ASN1_OBJECT* oid = nullptr;
  X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
  const int named = OBJ_obj2nid(oid);
  int key_type = named;
  int digest_nid = NID_undef;
  // A signature algorithm names its key type; a key algorithm is its own.
  OBJ_find_sigid_algs(named, &digest_nid, &key_type);
  const EVP_PKEY* key = X509_get0_pubkey(cert);
  return key != nullptr && named != NID_undef &&
         EVP_PKEY_get_base_id(key) == key_type;
}

}  // namespace

KeyClass ClassifyKey(X509* cert) {
  const X509_PUBKEY* public_key = X509_get_X509_PUBKEY(cert);
  ASN1_OBJECT* algorithm = nullptr;
  X509_ALGOR* parameters = nullptr;
  if (public_key == nullptr ||
      X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, &parameters,
                             public_key) != 1) {
    return KeyClass::kUnsupported;
  }
  EVP_PKEY* key = X509_get0_pubkey(cert);  // owned by `cert`
  if (key == nullptr) return KeyClass::kUnsupported;
  switch (OBJ_obj2nid(algorithm)) {
    case NID_rsaEncryption: {
      BIGNUM* raw_exponent = nullptr;
      const int got =
          EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &raw_exponent);
      const ossl::BignumPtr exponent(raw_exponent);
      if (got != 1 || BN_is_negative(exponent.get()) ||
          BN_num_bits(exponent.get()) > kMaxRsaExponentBits) {
        return KeyClass::kUnsupported;
      }
      // An exponent below 3 makes no key: with 1, a "signature" is the
      // padded digest itself, which anyone can write. Nor does an even one,
      // which no private exponent inverts.
      const BN_ULONG e = BN_get_word(exponent.get());
      if (e < 3 || e % 2 == 0) return KeyClass::kUnsupported;
      return EVP_PKEY_get_bits(key) < kMinRsaBits ? KeyClass::kWeak
                                                  : KeyClass::kAccepted;
    }
    case NID_X9_62_id_ecPublicKey: {
      // Only a named curve: explicit parameters are refused even when they
      // describe one of these.
      int type = V_ASN1_UNDEF;
      const void* value = nullptr;
      X509_ALGOR_get0(nullptr, &type, &value, parameters);
      if (type != V_ASN1_OBJECT) return KeyClass::kUnsupported;
      switch (OBJ_obj2nid(static_cast<const ASN1_OBJECT*>(value))) {
        case NID_X9_62_prime256v1:
        case NID_secp384r1:
        case NID_secp521r1:
          return KeyClass::kAccepted;
        default:
          return KeyClass::kUnsupported;
      }
    }
    default:
      return KeyClass::kUnsupported;
  }
}

bool KeyVerifiesSigner(const X509_ALGOR* algorithm, X509* cert) {
  return AlgorithmFitsKey(algorithm, cert) &&
         ClassifyKey(cert) != KeyClass::kUnsupported;
}

bool SignedWithBrokenDigest(const X509* cert) {
  int digest = NID_undef;
  if (OBJ_find_sigid_algs(X509_get_signature_nid(cert), &digest, nullptr) !=
      1) {
    return false;  // OpenSSL could not verify it either
  }
  return digest == NID_md5 || digest == NID_md4 || digest == NID_md2;
}

}  // namespace sealprobe

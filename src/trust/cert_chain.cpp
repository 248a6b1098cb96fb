#include "trust/cert_chain.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include "trust/openssl_ptr.h"
#include "trust/trust_status.h"

namespace sealprobe {
namespace {

constexpr char kLifetimeSigningOid[] = "1.3.6.1.4.1.311.10.3.13";
constexpr int kMaxChainDepth = 16;

// Every failure the chain engine reports, sorted into the statuses it can
// become. The verify callback records them all and lets verification go
// on, so that the most important one can be reported whatever order
// OpenSSL finds them in.
struct ChainErrors {
  bool untrusted_root = false;
  bool chaining = false;
  bool expired = false;
  bool cert_signature = false;
  bool basic_constraints = false;
  bool rejected = false;
  bool other = false;
};

int RecordChainError(int ok, X509_STORE_CTX* ctx) {
  if (ok == 1) return 1;
  auto* errors = static_cast<ChainErrors*>(X509_STORE_CTX_get_app_data(ctx));
  switch (X509_STORE_CTX_get_error(ctx)) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      errors->untrusted_root = true;
      break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      errors->chaining = true;
      break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      errors->expired = true;
      break;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      errors->cert_signature = true;
      break;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
      errors->basic_constraints = true;
      break;
    case X509_V_ERR_CERT_REJECTED:
      errors->rejected = true;
      break;
    default:
      errors->other = true;
      break;
  }
  return 1;
}

int PurposeNid(ChainUse use) {
  return use == ChainUse::kCodeSigning ? NID_code_sign : NID_time_stamp;
}

// Whether `cert`'s own trust settings reject it for `purpose_nid` or for
// every use.
bool RejectsPurpose(X509* cert, int purpose_nid) {
  const STACK_OF(ASN1_OBJECT)* reject = X509_get0_reject_objects(cert);
  for (int i = 0; i < sk_ASN1_OBJECT_num(reject); ++i) {
    const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(reject, i));
    if (nid == purpose_nid || nid == NID_anyExtendedKeyUsage) return true;
  }
  return false;
}

// Like the Disallowed store: a certificate is distrusted when the store
// holds a copy of it that rejects the use, whether or not that copy is the
// one the chain was built from.
bool ExplicitlyDistrusted(X509_STORE_CTX* ctx, X509* cert, int purpose_nid) {
  if (RejectsPurpose(cert, purpose_nid)) return true;
  const ossl::X509StackPtr copies(
      X509_STORE_CTX_get1_certs(ctx, X509_get_subject_name(cert)));
  for (int i = 0; i < sk_X509_num(copies.get()); ++i) {
    X509* copy = sk_X509_value(copies.get(), i);
    if (X509_cmp(copy, cert) == 0 && RejectsPurpose(copy, purpose_nid)) {
      return true;
    }
  }
  return false;
}

enum class Eku { kAbsent, kNames, kLacks };

Eku ExtendedKeyUsageFor(X509* cert, int purpose_nid) {
  int critical = -1;
  const ossl::EkuPtr eku(static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
  if (!eku) return critical == -1 ? Eku::kAbsent : Eku::kLacks;
  for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
    if (OBJ_obj2nid(sk_ASN1_OBJECT_value(eku.get(), i)) == purpose_nid) {
      return Eku::kNames;
    }
  }
  return Eku::kLacks;
}

bool WrongUsage(const STACK_OF(X509) * chain, ChainUse use) {
  const int purpose = PurposeNid(use);
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    const Eku eku = ExtendedKeyUsageFor(sk_X509_value(chain, i), purpose);
    if (eku == Eku::kLacks) return true;
    // A time-stamping authority has to say so; a code signer need not.
    if (i == 0 && use == ChainUse::kTimeStamping && eku == Eku::kAbsent) {
      return true;
    }
  }
  return false;
}

}  // namespace

uint32_t CheckCertificateChain(X509* leaf, STACK_OF(X509) * untrusted,
                               X509_STORE* store, std::time_t when,
                               ChainUse use) {
  if (leaf == nullptr || store == nullptr) return status::kCertChaining;
  const ossl::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store, leaf, untrusted) != 1) {
    return status::kCertChaining;
  }
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  X509_VERIFY_PARAM_set_time(param, when);
  // Far deeper than any real chain, and a bound on the work a signature
  // full of made-up certificates can cause.
  X509_VERIFY_PARAM_set_depth(param, kMaxChainDepth);
  // No purpose is set (OpenSSL's know nothing of code signing and would
  // reject good signers). The trust setting makes the store's per-use
  // rejections count for this use.
  X509_VERIFY_PARAM_set_trust(param, use == ChainUse::kCodeSigning
                                         ? X509_TRUST_OBJECT_SIGN
                                         : X509_TRUST_TSA);
  ChainErrors errors;
  X509_STORE_CTX_set_app_data(ctx.get(), &errors);
  X509_STORE_CTX_set_verify_cb(ctx.get(), RecordChainError);
  const int verified = X509_verify_cert(ctx.get());

  const STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    if (ExplicitlyDistrusted(ctx.get(), sk_X509_value(chain, i),
                             PurposeNid(use))) {
      return status::kTrustExplicitDistrust;
    }
  }
  if (errors.untrusted_root) return status::kCertUntrustedRoot;
  if (errors.chaining) return status::kCertChaining;
  if (errors.expired) return status::kCertExpired;
  if (errors.cert_signature) return status::kTrustCertSignature;
  if (errors.basic_constraints) return status::kTrustBasicConstraints;
  if (errors.other || verified != 1) return status::kCertChaining;
  // Trusted by the store only for other uses.
  if (errors.rejected || WrongUsage(chain, use)) return status::kCertWrongUsage;
  return status::kSuccess;
}

bool HasLifetimeSigningUsage(X509* cert) {
  const ossl::Asn1ObjectPtr lifetime(OBJ_txt2obj(kLifetimeSigningOid, 1));
  if (!lifetime) return false;
  int critical = -1;
  const ossl::EkuPtr eku(static_cast<EXTENDED_KEY_USAGE*>(
      X509_get_ext_d2i(cert, NID_ext_key_usage, &critical, nullptr)));
  for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
    if (OBJ_cmp(sk_ASN1_OBJECT_value(eku.get(), i), lifetime.get()) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace sealprobe

// Owning handles for OpenSSL objects: std::unique_ptr with a stateless
// deleter per type, so every object is released on every path from the line
// that acquired it. A null handle means the acquiring call failed.
#ifndef SEALPROBE_AUTHENTICODE_OPENSSL_PTR_H_
#define SEALPROBE_AUTHENTICODE_OPENSSL_PTR_H_

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace sealprobe::ossl {

#define SP_OSSL_DELETER(Name, Type, free_fn)                \
  struct Name {                                             \
    void operator()(Type* p) const noexcept { free_fn(p); } \
  }

SP_OSSL_DELETER(Asn1ObjectDeleter, ASN1_OBJECT, ASN1_OBJECT_free);
SP_OSSL_DELETER(Asn1TimeDeleter, ASN1_TIME, ASN1_TIME_free);
SP_OSSL_DELETER(Asn1TypeDeleter, ASN1_TYPE, ASN1_TYPE_free);
SP_OSSL_DELETER(BioDeleter, BIO, BIO_free_all);
SP_OSSL_DELETER(BignumDeleter, BIGNUM, BN_free);
SP_OSSL_DELETER(CmsDeleter, CMS_ContentInfo, CMS_ContentInfo_free);
SP_OSSL_DELETER(EkuDeleter, EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free);
SP_OSSL_DELETER(EvpMdCtxDeleter, EVP_MD_CTX, EVP_MD_CTX_free);
SP_OSSL_DELETER(EvpPkeyDeleter, EVP_PKEY, EVP_PKEY_free);
SP_OSSL_DELETER(GeneralNamesDeleter, GENERAL_NAMES, GENERAL_NAMES_free);
SP_OSSL_DELETER(NameConstraintsDeleter, NAME_CONSTRAINTS,
                NAME_CONSTRAINTS_free);
SP_OSSL_DELETER(Pkcs7Deleter, PKCS7, PKCS7_free);
SP_OSSL_DELETER(Pkcs7SignerInfoDeleter, PKCS7_SIGNER_INFO,
                PKCS7_SIGNER_INFO_free);
SP_OSSL_DELETER(TsTstInfoDeleter, TS_TST_INFO, TS_TST_INFO_free);
SP_OSSL_DELETER(X509Deleter, X509, X509_free);
SP_OSSL_DELETER(X509PolicyTreeDeleter, X509_POLICY_TREE, X509_policy_tree_free);
SP_OSSL_DELETER(X509NameDeleter, X509_NAME, X509_NAME_free);
SP_OSSL_DELETER(X509StoreDeleter, X509_STORE, X509_STORE_free);
SP_OSSL_DELETER(X509StoreCtxDeleter, X509_STORE_CTX, X509_STORE_CTX_free);

#undef SP_OSSL_DELETER

struct X509StackDeleter {
  void operator()(STACK_OF(X509) * p) const noexcept {
    sk_X509_pop_free(p, X509_free);
  }
};

// A stack that only borrows its certificates (sk_X509_dup and the like).
struct X509ViewStackDeleter {
  void operator()(STACK_OF(X509) * p) const noexcept { sk_X509_free(p); }
};

// Buffers that OpenSSL allocated for the caller (i2d output and the like).
struct OpenSslFreeDeleter {
  void operator()(unsigned char* p) const noexcept { OPENSSL_free(p); }
};

using Asn1ObjectPtr = std::unique_ptr<ASN1_OBJECT, Asn1ObjectDeleter>;
using Asn1TimePtr = std::unique_ptr<ASN1_TIME, Asn1TimeDeleter>;
using Asn1TypePtr = std::unique_ptr<ASN1_TYPE, Asn1TypeDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using BignumPtr = std::unique_ptr<BIGNUM, BignumDeleter>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsDeleter>;
using EkuPtr = std::unique_ptr<EXTENDED_KEY_USAGE, EkuDeleter>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxDeleter>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, GeneralNamesDeleter>;
using NameConstraintsPtr =
    std::unique_ptr<NAME_CONSTRAINTS, NameConstraintsDeleter>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Deleter>;
using Pkcs7SignerInfoPtr =
    std::unique_ptr<PKCS7_SIGNER_INFO, Pkcs7SignerInfoDeleter>;
using TsTstInfoPtr = std::unique_ptr<TS_TST_INFO, TsTstInfoDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using X509PolicyTreePtr =
    std::unique_ptr<X509_POLICY_TREE, X509PolicyTreeDeleter>;
using X509NamePtr = std::unique_ptr<X509_NAME, X509NameDeleter>;
using X509StorePtr = std::unique_ptr<X509_STORE, X509StoreDeleter>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, X509StoreCtxDeleter>;
// A stack that owns its certificates.
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;
using X509ViewStackPtr = std::unique_ptr<STACK_OF(X509), X509ViewStackDeleter>;
using OpenSslBuffer = std::unique_ptr<unsigned char, OpenSslFreeDeleter>;

}  // namespace sealprobe::ossl

#endif  // SEALPROBE_AUTHENTICODE_OPENSSL_PTR_H_

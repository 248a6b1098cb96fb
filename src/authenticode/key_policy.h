// Which keys and certificate signatures Windows can verify a signature with.
// The signer, its chain and a timestamp's authority are all held to these.
#ifndef SEALPROBE_AUTHENTICODE_KEY_POLICY_H_
#define SEALPROBE_AUTHENTICODE_KEY_POLICY_H_

#include <openssl/x509.h>

namespace sealprobe {

// The smallest RSA key Windows accepts in a chain.
inline constexpr int kMinRsaBits = 1024;

// How Windows can use a certificate's public key to verify signatures.
enum class KeyClass {
  kAccepted,     // RSA of 1024 bits or more with an odd public exponent from
                 // 3 to 2^32 - 1, or ECDSA on the named curve P-256, P-384
                 // or P-521
  kWeak,         // such an RSA key under 1024 bits: usable, but refused in
                 // a chain
  kUnsupported,  // anything else: Ed25519, Ed448, DSA, other curves, curves
                 // given by explicit parameters, RSA-PSS keys, an RSA
                 // exponent of 2^32 or more (CryptoAPI holds it in 32
                 // bits), below 3 or even (no real key has one), a key that
                 // does not decode
};
KeyClass ClassifyKey(X509* cert);

// Whether a signer naming `algorithm` as its digestEncryptionAlgorithm can
// be verified with `cert`'s key: the algorithm is the key's own
// (rsaEncryption, id-ecPublicKey) or a signature algorithm over it
// (sha256WithRSAEncryption, ecdsa-with-SHA256, ...), and ClassifyKey does
// not call the key unsupported. OpenSSL would verify with the key's own
// algorithm whatever the signer names.
bool KeyVerifiesSigner(const X509_ALGOR* algorithm, X509* cert);

// Whether `cert` is signed with a digest Windows blocks for code signing
// and time stamping: MD5, MD4 or MD2.
bool SignedWithBrokenDigest(const X509* cert);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_KEY_POLICY_H_

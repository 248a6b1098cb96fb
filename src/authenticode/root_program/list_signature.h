// Whether a certificate trust list is Microsoft's: ReadTrustList checks
// that its signature holds over the list; this checks who made it. Used by
// sealprobe-roots before it believes a list it fetched or was handed.
#ifndef SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_LIST_SIGNATURE_H_
#define SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_LIST_SIGNATURE_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "authenticode/certificate_bytes.h"

namespace sealprobe {

// Microsoft Root Certificate Authority 2010, under which Microsoft signs
// its root and Disallowed lists, by the SHA-256 and the SHA-1 of its DER.
// Its certificate is itself one of the roots the root list names (by that
// SHA-1, with that SHA-256 as property 98), so only the digests are kept
// here.
inline constexpr char kMicrosoftListRootSha256[] =
    "df545bf919a2439c36983b54cdfc903dfa4f37d3996d8d84b4c31eec6f3c163e";
inline constexpr char kMicrosoftListRootSha1[] =
    "3b1efd3a66ea28b16697394703a72ca340a05bd5";

// The usage a list's signer must have: 1.3.6.1.4.1.311.10.3.9, Windows'
// szOID_ROOT_LIST_SIGNER.
inline constexpr char kRootListSignerUsage[] = "1.3.6.1.4.1.311.10.3.9";

enum class ListSignatureFault {
  kNone,
  kNotSigned,    // not a SignedData with one signer whose certificate it
                 // carries and whose signature verifies over the list
  kBadRoot,      // the root given is not one DER certificate
  kNoChain,      // the signer does not chain, through the certificates
                 // the list carries, to the root, each valid at `when`:
                 // `detail` is OpenSSL's reason, `depth` where
  kSignerUsage,  // the signer has no extendedKeyUsage naming
                 // kRootListSignerUsage
  kIssuerUsage,  // a CA between the signer and the root has an
                 // extendedKeyUsage without it
};

struct ListSignature {
  ListSignatureFault fault = ListSignatureFault::kNone;
  std::string detail;
  int depth = 0;       // from the signer, 0
  std::string signer;  // the signer's subject (RFC 2253), once found
  std::string issuer;  // its issuer's subject, once found
  bool ok() const { return fault == ListSignatureFault::kNone; }
};

// Checks the signer of the CTL in the `size` bytes at `der`: its signature
// over the list, found and verified as ReadTrustList does; a chain from its
// certificate, through the certificates the SignedData carries, to `root`
// (the DER of a certificate the caller trusts, `root_size` bytes) and to no
// other, every certificate valid at `when` (the list's thisUpdate: the
// signer's certificates last a year, and a list is used long after);
// the usage kRootListSignerUsage in the signer's extendedKeyUsage, and in
// that of every CA between it and the root that has one. Fills `signer`
// and `issuer` whenever the signer is found, so that a caller can name it
// even when the chain fails (a null `root` checks only the signature).
// Never reads outside the bytes given; never throws.
ListSignature AuthenticateTrustList(const uint8_t* der, size_t size,
                                    const uint8_t* root, size_t root_size,
                                    std::time_t when);

// A digest written in hexadecimal (either case), or nullopt.
std::optional<Sha256> ParseSha256(const std::string& hex);
std::optional<Sha1> ParseSha1(const std::string& hex);

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_ROOT_PROGRAM_LIST_SIGNATURE_H_

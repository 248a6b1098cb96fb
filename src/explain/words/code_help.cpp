#include "explain/words/code_help.h"

#include <cstdint>

#include "authenticode/cert_chain.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

// A code that is not a chain's, with the status Windows gives for it (0
// for a rule of the release's own, which has none).
const struct {
  const char* code;
  const char* title;
  const char* description;
  uint32_t status;
} kCodes[] = {
    {"file.not_opened", "The file could not be opened",
     "No regular file opens at the path: it is missing, not a regular file, "
     "or may not be read.",
     status::kCryptFileError},
    {"file.unreadable", "The file could not be read",
     "The file opened, but a read failed.", status::kCryptFileError},
    {"file.not_pe", "Not a PE image or an installer",
     "The file is neither a PE image nor a compound file, the kinds of file "
     "sealprobe verifies.",
     status::kTrustSubjectFormUnknown},
    {"file.not_installer", "A compound file that is not an installer",
     "The file is a compound file, but not a Windows Installer package or "
     "patch.",
     status::kTrustSubjectFormUnknown},
    {"file.malformed_compound", "A compound file that cannot be read",
     "The file is a compound file whose structure cannot be read, or is over "
     "a cap of the reader.",
     status::kTrustSubjectFormUnknown},
    {"signature.none", "Not signed",
     "The file carries no signature: a PE image has no certificate table, or "
     "one that is malformed or does not end the file; an installer has no "
     "signature stream.",
     status::kTrustNoSignature},
    {"signature.too_large", "The signature is too large",
     "The signature is over the 16 MiB one may take.",
     status::kTrustNoSignature},
    {"signature.over_cap", "The signature asks too much work",
     "The signature is over a cap on the work it may ask (how deep it nests, "
     "how many elements, certificates, CRLs, attributes or names it holds), "
     "which keeps a hostile file from exhausting the verifier.",
     status::kTrustNoSignature},
    {"signature.malformed", "The signature is malformed",
     "The signature is not an Authenticode PKCS#7 SignedData of the shape its "
     "version gives.",
     status::kTrustNoSignature},
    {"signature.digest_unsupported", "The image digest is not supported",
     "The image digest is not SHA-1, SHA-256, SHA-384 or SHA-512.",
     status::kNteBadAlgId},
    {"signer.algorithm_unsupported", "The signer's algorithm is not supported",
     "The signer's digest, or its signature algorithm or key, is one Windows "
     "cannot verify with.",
     status::kNteBadAlgId},
    {"signer.certificate_missing", "The signer's certificate is missing",
     "No certificate in the signature has the issuer and serial number the "
     "signer names.",
     status::kTrustNoSignerCert},
    {"signer.bad_signature", "The signer's signature does not verify",
     "The signer's signature over what it signs does not verify.",
     status::kTrustBadDigest},
    {"image.metadata_mismatch", "The installer was changed after signing",
     "The installer's entries (names, sizes, times, state bits) are not those "
     "its signature covers: it was changed after it was signed.",
     status::kTrustBadDigest},
    {"image.hash_mismatch", "The file was changed after signing",
     "The image hash (an installer's streams) is not the one the signature "
     "carries: the file was changed after it was signed.",
     status::kTrustBadDigest},
    {"timestamp.invalid", "The timestamp is not valid",
     "The signature's timestamp fails its own checks: it does not decode, "
     "stamps another signature, or its signature does not verify.",
     status::kTrustTimeStamp},
    {"trust.not_loaded", "Windows' root program did not load",
     "The folder of Windows' root program the run was to trust does not "
     "load.",
     status::kTrustSystemError},
    {"policy.signer_not_pinned", "Signed with another certificate",
     "The signer's certificate is none of those --signer names: the file was "
     "signed with another certificate than the release's. Windows may still "
     "call it valid.",
     0},
    {"policy.signer_eku_not_pinned", "The signer lacks the pinned usage",
     "The signer's certificate names none of the extended key usages "
     "--signer-eku names: it was not issued for the release's signing "
     "account. Windows may still call it valid.",
     0},
    {"policy.chain_not_pinned", "Signed under another CA",
     "No certificate above the signer's in its chain (an intermediate or the "
     "root) is one of those --chain-includes names: the file was signed "
     "under another CA than the release's. Windows may still call it valid.",
     0},
    {"policy.no_timestamp", "The signature has no timestamp",
     "The signature has no valid timestamp, which --require-timestamp "
     "requires: without one, the signature stops being valid when its "
     "certificate expires.",
     0},
    {"policy.signature_invalid", "Another signature is not valid",
     "A signature of the file other than the primary one, which Windows "
     "decides by, is not valid, which --all-signatures requires.",
     0},
    {"staging.missing", "A product file is missing",
     "Under --staging, the manifest's entry is in neither staged folder: the "
     "installer's sealprobe would skip it, and the product would ship without "
     "it.",
     0},
    {"file.unsupported_format", "A signed kind of file that is not verified",
     "The file is of a kind Windows signs (a cabinet, a catalog, a signed "
     "script, an MSIX or APPX package, a compound file other than an "
     "installer) that sealprobe cannot verify, so the release holding it is "
     "not proven; --allow-unsupported lets it pass, listed as not checked.",
     0},
};

// A chain's code is its family's prefix and the end of its deciding fault.
const struct {
  const char* code;  // the end
  ChainFault fault;
  const char* title;
  const char* description;
} kChainFaults[] = {
    {"distrusted", ChainFault::kDistrusted, "a certificate is distrusted",
     "a certificate is distrusted by the store's trust settings or by "
     "Windows' Disallowed list"},
    {"bad_certificate_signature", ChainFault::kCertSignature,
     "a certificate's signature is bad",
     "a certificate's signature does not verify, is made with MD5, or rests "
     "on a key Windows refuses"},
    {"untrusted_root", ChainFault::kUntrustedRoot, "the root is not trusted",
     "the chain ends in a root the store does not trust"},
    {"issuer_missing", ChainFault::kChaining, "an issuer is missing",
     "an issuer cannot be found: the signature does not carry it and the "
     "store does not hold it"},
    {"wrong_usage", ChainFault::kWrongUsage, "a certificate is for other uses",
     "an extended key usage, key usage or trusted use leaves out this use"},
    {"expired", ChainFault::kExpired, "a certificate has expired",
     "a certificate is outside its validity at the time the chain is judged "
     "as of"},
    {"invalid_policy", ChainFault::kPolicy, "the policies do not hold",
     "RFC 5280 policy processing fails"},
    {"basic_constraints", ChainFault::kBasicConstraints,
     "an issuer is not a CA",
     "an issuer is not a CA, or a path length is exceeded"},
    {"unknown_critical_extension", ChainFault::kCritical,
     "an unknown critical extension",
     "a certificate has a critical extension Windows does not process"},
    {"invalid_name", ChainFault::kInvalidName,
     "a name is outside the constraints",
     "a name is outside an issuer's name constraints, or cannot be checked "
     "against them"},
    {"engine_failure", ChainFault::kOther, "the chain engine failed",
     "the chain engine fails for another reason"},
};

// " Windows gives CERT_E_EXPIRED (0x800b0101)."; nothing for 0.
std::string StatusText(uint32_t status) {
  if (status == 0) return {};
  return " Windows gives " + status::StatusNameOf(status) + " (" +
         status::StatusHex(status) + ").";
}

}  // namespace

std::optional<CodeHelp> HelpFor(const std::string& code) {
  for (const auto& row : kCodes) {
    if (code == row.code) {
      return CodeHelp{row.title, row.description + StatusText(row.status)};
    }
  }
  const struct {
    std::string prefix;
    const char* whose;
    bool authority;
  } kFamilies[] = {{"chain.", "signer's", false},
                   {"timestamp.chain.", "timestamp authority's", true}};
  for (const auto& family : kFamilies) {
    if (code.rfind(family.prefix, 0) != 0) continue;
    for (const auto& row : kChainFaults) {
      if (code.compare(family.prefix.size(), std::string::npos, row.code) !=
          0) {
        continue;
      }
      const std::string title =
          std::string("In the ") + family.whose + " chain, " + row.title;
      return CodeHelp{title,
                      std::string("In the ") + family.whose + " chain, " +
                          row.description + "." +
                          StatusText(family.authority ? status::kTrustTimeStamp
                                                      : StatusOf(row.fault))};
    }
  }
  return std::nullopt;
}

}  // namespace sealprobe

// What VerifyAuthenticode found on its way to a file's status: the status,
// the rule that decided it, and the evidence each step built, owned by the
// record. sealprobe reads the result alone; sealprobe-explain puts the rest
// in words. Nothing here is words.
#ifndef SEALPROBE_AUTHENTICODE_VERIFICATION_H_
#define SEALPROBE_AUTHENTICODE_VERIFICATION_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

#include "authenticode/cert_chain.h"
#include "authenticode/compound_file.h"
#include "authenticode/pe_image.h"
#include "authenticode/signature.h"
#include "authenticode/signed_data.h"
#include "authenticode/timestamp.h"
#include "trust_status.h"

namespace sealprobe {

// The step that decided a file's status: a row of the verifier's rulebook
// (docs/verifier.md), in the order the steps are taken. Where a rule has
// cases, the evidence says which one: Signature::fault (and cap),
// StampCheck::fault, the chain's deciding ChainProblem, the trust folder's
// TrustLoadError (TrustAnchors::load_error).
enum class Rule {
  kNotOpened,               // CRYPT_E_FILE_ERROR: no regular file opens there
  kUnreadable,              // CRYPT_E_FILE_ERROR: a read failed
  kNotPe,                   // TRUST_E_SUBJECT_FORM_UNKNOWN: neither a PE
                            // image nor a compound file
  kNotInstaller,            // TRUST_E_SUBJECT_FORM_UNKNOWN: a compound file
                            // whose root is no installer's
                            // (CompoundEvidence::layout.root_clsid)
  kMalformedCompoundFile,   // TRUST_E_SUBJECT_FORM_UNKNOWN: a compound file
                            // [MS-CFB] does not allow, or over a cap of
                            // compound_file.h (CompoundEvidence::fault)
  kNoSignature,             // TRUST_E_NOSIGNATURE: no certificate table that
                            // holds a signature and ends the file, or no
                            // installer's \x05DigitalSignature stream
  kSignatureTooLarge,       // TRUST_E_NOSIGNATURE: over kMaxSignatureSize
  kMalformedSignature,      // TRUST_E_NOSIGNATURE: Signature::fault
  kImageDigestUnsupported,  // NTE_BAD_ALGID: not SHA-1, -256, -384, -512
  kSignerAlgorithmUnsupported,  // NTE_BAD_ALGID: the signer's digest or key
  kSignerCertificateMissing,    // TRUST_E_NO_SIGNER_CERT
  kSignerSignatureBad,          // TRUST_E_BAD_DIGEST
  kMetadataHashMismatch,        // TRUST_E_BAD_DIGEST: an installer's entries'
                                // metadata changed after signing (its
                                // \x05MsiDigitalSignatureEx stream)
  kImageHashMismatch,           // TRUST_E_BAD_DIGEST: changed after signing
  kTimestampInvalid,            // TRUST_E_TIME_STAMP: StampCheck::fault
  kTrustNotLoaded,              // TRUST_E_SYSTEM_ERROR
  kSignerChain,                 // the signer's chain, by its status
  kAuthorityChain,              // TRUST_E_TIME_STAMP: the timestamp
                                // authority's chain
  kValid,                       // every check passes
};

// The time the signer's chain was judged as of, and why that one.
struct CheckingTime {
  enum class Basis {
    kStamp,            // the timestamp's time
    kNow,              // no timestamp
    kLifetimeSigning,  // the signer's certificate outlives no signature
  };
  std::time_t time = 0;
  Basis basis = Basis::kNow;
};

// What kind of file it is, as Windows tells by content.
enum class SubjectFormat {
  kUnknown,       // not read, or neither of these
  kPe,            // a PE image
  kInstaller,     // a Windows Installer package or patch (msi_package.h)
  kCompoundFile,  // a compound file that could not be told to be one
};

// What was found of a compound file: its layout as far as it was read,
// and for an installer its signature streams and the pre-hash computed.
struct CompoundEvidence {
  CompoundLayout layout;
  CompoundFault fault = CompoundFault::kNone;  // with kMalformedCompoundFile
  // The \x05DigitalSignature stream's size, when there is one.
  std::optional<uint64_t> signature_size;
  // The \x05MsiDigitalSignatureEx stream's size, and its bytes when at most
  // 64 (no digest is longer), when there is one.
  std::optional<uint64_t> metadata_size;
  std::vector<uint8_t> metadata_stored;
  // The pre-hash of the entries' metadata, computed with the signature's
  // digest when that stream is there.
  std::optional<std::vector<uint8_t>> metadata_hash;
};

struct Verification {
  TrustResult result;  // what WinVerifyTrust would return for the file
  Rule rule = Rule::kNotOpened;
  // The evidence, as far as the verification got: each part is there once
  // its step has run.
  SubjectFormat format = SubjectFormat::kUnknown;
  std::optional<PeImage> image;              // a PE image's
  std::optional<CompoundEvidence> compound;  // a compound file's
  std::optional<Signature> signature;        // decoded, or why not
  // How many bytes its container holds after the signature's PKCS#7: in a
  // PE's certificate-table entry, past the padding to 8 bytes (Windows
  // ignores them; the verdict does not change), in an installer's
  // signature stream any (SignatureFault::kBytesAfterSignature). Set once
  // the signature's size is known.
  std::optional<uint64_t> bytes_after_signature;
  std::optional<SignerCheck> signer;  // its certificate is the signature's
  // The image hash (an installer's content digest), computed with the
  // digest the signature names.
  std::optional<std::vector<uint8_t>> image_hash;
  std::optional<StampCheck> stamp;
  std::optional<CheckingTime> checked_at;
  std::optional<ChainResult> chain;            // the signer's
  std::optional<ChainResult> authority_chain;  // the stamp's authority's

  // The chain that decided, when one did (its deciding() is then the
  // deciding problem); null otherwise.
  const ChainResult* DecidingChain() const;
  // The certificate the deciding rule was found on; null when it was no
  // certificate's.
  X509* DecidingCertificate() const;
  // Whether the image hash matches the signed one; nothing when it was not
  // computed.
  std::optional<bool> HashMatches() const;
};

}  // namespace sealprobe

#endif  // SEALPROBE_AUTHENTICODE_VERIFICATION_H_

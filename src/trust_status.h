// Result codes of the platform's trust service, as WinVerifyTrust and
// GetLastError report them. The POSIX trust service returns the same numbers
// for the same cases, so one verdict table serves both builds.
#ifndef SEALPROBE_TRUST_STATUS_H_
#define SEALPROBE_TRUST_STATUS_H_

#include <cstdint>
#include <string>

namespace sealprobe {

// What the trust service says of one file: WinVerifyTrust's return, and
// the thread's last error read right after it. The POSIX verifier gives
// the same pair for the same case.
struct TrustResult {
  // 0 when the signature is valid and trusted, otherwise a status below
  // (or any other code the platform returns).
  uint32_t status = 0;
  // Only meaningful when `status` is TRUST_E_NOSIGNATURE, where it tells an
  // unsigned file from other trouble.
  uint32_t last_error = 0;
};

}  // namespace sealprobe

namespace sealprobe::status {

inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kTrustProviderUnknown =
    0x800B0001;  // TRUST_E_PROVIDER_UNKNOWN
inline constexpr uint32_t kTrustSubjectFormUnknown =
    0x800B0003;  // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr uint32_t kTrustSubjectNotTrusted =
    0x800B0004;  // TRUST_E_SUBJECT_NOT_TRUSTED
inline constexpr uint32_t kTrustNoSignature =
    0x800B0100;                                        // TRUST_E_NOSIGNATURE
inline constexpr uint32_t kCertExpired = 0x800B0101;   // CERT_E_EXPIRED
inline constexpr uint32_t kCertCritical = 0x800B0105;  // CERT_E_CRITICAL
inline constexpr uint32_t kCertUntrustedRoot =
    0x800B0109;                                          // CERT_E_UNTRUSTEDROOT
inline constexpr uint32_t kCertChaining = 0x800B010A;    // CERT_E_CHAINING
inline constexpr uint32_t kCertWrongUsage = 0x800B0110;  // CERT_E_WRONG_USAGE
inline constexpr uint32_t kTrustExplicitDistrust =
    0x800B0111;  // TRUST_E_EXPLICIT_DISTRUST
inline constexpr uint32_t kCertInvalidPolicy =
    0x800B0113;  // CERT_E_INVALID_POLICY
inline constexpr uint32_t kCertInvalidName = 0x800B0114;  // CERT_E_INVALID_NAME
inline constexpr uint32_t kTrustBadDigest = 0x80096010;   // TRUST_E_BAD_DIGEST
inline constexpr uint32_t kCryptFileError = 0x80092003;   // CRYPT_E_FILE_ERROR
inline constexpr uint32_t kCryptSecuritySettings =
    0x80092026;  // CRYPT_E_SECURITY_SETTINGS
inline constexpr uint32_t kCryptAsn1BadTag = 0x8009310B;  // CRYPT_E_ASN1_BADTAG
inline constexpr uint32_t kNteBadAlgId = 0x80090008;      // NTE_BAD_ALGID
inline constexpr uint32_t kTrustSystemError =
    0x80096001;  // TRUST_E_SYSTEM_ERROR
inline constexpr uint32_t kTrustNoSignerCert =
    0x80096002;  // TRUST_E_NO_SIGNER_CERT
inline constexpr uint32_t kTrustCertSignature =
    0x80096004;  // TRUST_E_CERT_SIGNATURE
inline constexpr uint32_t kTrustTimeStamp = 0x80096005;  // TRUST_E_TIME_STAMP
inline constexpr uint32_t kTrustBasicConstraints =
    0x80096019;                                // TRUST_E_BASIC_CONSTRAINTS
inline constexpr uint32_t kFail = 0x80004005;  // E_FAIL
// A Win32 error code rather than a status: what GetLastError reports when
// an allocation fails.
inline constexpr uint32_t kErrorNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY

// The name Windows' headers give `status`, such as "CERT_E_WRONG_USAGE";
// null for a code not listed here.
constexpr const char* StatusName(uint32_t status) {
  switch (status) {
    case kSuccess:
      return "ERROR_SUCCESS";
    case kTrustProviderUnknown:
      return "TRUST_E_PROVIDER_UNKNOWN";
    case kTrustSubjectFormUnknown:
      return "TRUST_E_SUBJECT_FORM_UNKNOWN";
    case kTrustSubjectNotTrusted:
      return "TRUST_E_SUBJECT_NOT_TRUSTED";
    case kTrustNoSignature:
      return "TRUST_E_NOSIGNATURE";
    case kCertExpired:
      return "CERT_E_EXPIRED";
    case kCertCritical:
      return "CERT_E_CRITICAL";
    case kCertUntrustedRoot:
      return "CERT_E_UNTRUSTEDROOT";
    case kCertChaining:
      return "CERT_E_CHAINING";
    case kCertWrongUsage:
      return "CERT_E_WRONG_USAGE";
    case kTrustExplicitDistrust:
      return "TRUST_E_EXPLICIT_DISTRUST";
    case kCertInvalidPolicy:
      return "CERT_E_INVALID_POLICY";
    case kCertInvalidName:
      return "CERT_E_INVALID_NAME";
    case kTrustBadDigest:
      return "TRUST_E_BAD_DIGEST";
    case kCryptFileError:
      return "CRYPT_E_FILE_ERROR";
    case kCryptSecuritySettings:
      return "CRYPT_E_SECURITY_SETTINGS";
    case kCryptAsn1BadTag:
      return "CRYPT_E_ASN1_BADTAG";
    case kNteBadAlgId:
      return "NTE_BAD_ALGID";
    case kTrustSystemError:
      return "TRUST_E_SYSTEM_ERROR";
    case kTrustNoSignerCert:
      return "TRUST_E_NO_SIGNER_CERT";
    case kTrustCertSignature:
      return "TRUST_E_CERT_SIGNATURE";
    case kTrustTimeStamp:
      return "TRUST_E_TIME_STAMP";
    case kTrustBasicConstraints:
      return "TRUST_E_BASIC_CONSTRAINTS";
    case kFail:
      return "E_FAIL";
    case kErrorNotEnoughMemory:
      return "ERROR_NOT_ENOUGH_MEMORY";
    default:
      return nullptr;
  }
}

// `code` in lower-case hexadecimal without leading zeros ("800b0110"), in
// the characters of the text it goes into.
template <typename Char = char>
std::basic_string<Char> HexDigits(uint32_t code) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::basic_string<Char> digits;
  do {
    digits.insert(digits.begin(), static_cast<Char>(kDigits[code % 16]));
    code /= 16;
  } while (code != 0);
  return digits;
}

// "0x800b0110".
inline std::string StatusHex(uint32_t code) { return "0x" + HexDigits(code); }

// StatusName, or "(no name)" for a code it does not list.
inline std::string StatusNameOf(uint32_t code) {
  const char* name = StatusName(code);
  return name != nullptr ? name : "(no name)";
}

// The status of every file when the platform's trust service could not be
// loaded: the loader's Win32 error code as an HRESULT (HRESULT_FROM_WIN32),
// and E_FAIL when the loader left no code, so that a failed load can never
// read as success.
constexpr uint32_t LoadFailureStatus(uint32_t win32_error) {
  if (win32_error == 0) return kFail;
  // A code with the severity bit set is an HRESULT already.
  if ((win32_error & 0x80000000u) != 0) return win32_error;
  return 0x80070000u | (win32_error & 0xFFFFu);  // FACILITY_WIN32
}

}  // namespace sealprobe::status

#endif  // SEALPROBE_TRUST_STATUS_H_

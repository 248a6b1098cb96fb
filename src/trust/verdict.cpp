#include "trust/verdict.h"

#include "trust_status.h"

namespace sealprobe {
namespace {

NativeString Quoted(NativeStringView before, const NativeString& path,
                    NativeStringView after) {
  NativeString line(before);
  line.append(path);
  line.append(after);
  return line;
}

bool LastErrorMeansUnsigned(uint32_t last_error) {
  return last_error == status::kTrustNoSignature ||
         last_error == status::kTrustSubjectFormUnknown ||
         last_error == status::kTrustProviderUnknown;
}

}  // namespace

Verdict DescribeTrustResult(const TrustResult& result,
                            const NativeString& path) {
  switch (result.status) {
    case status::kSuccess:
      return {true, Quoted(SP_TEXT("\""), path,
                           SP_TEXT("\" has a valid digital signature."))};
    case status::kTrustNoSignature:
      if (LastErrorMeansUnsigned(result.last_error)) {
        return {false, Quoted(SP_TEXT("The file \""), path,
                              SP_TEXT("\" is not digitally signed."))};
      }
      return {false,
              Quoted(SP_TEXT("An unknown error occurred trying to verify the "
                             "signature of the \""),
                     path, SP_TEXT("\" file."))};
    case status::kTrustExplicitDistrust:
      return {false, Quoted(SP_TEXT("The signature is present for \""), path,
                            SP_TEXT("\", but specifically disallowed."))};
    case status::kTrustSubjectNotTrusted:
      return {false, Quoted(SP_TEXT("The signature is present for \""), path,
                            SP_TEXT("\", but not trusted."))};
    case status::kCryptSecuritySettings:
      return {
          false,
          Quoted(SP_TEXT("CRYPT_E_SECURITY_SETTINGS - The hash representing "
                         "the subject or the publisher wasn't explicitly "
                         "trusted by the admin and admin policy has "
                         "disabled user trust. No signature, publisher or "
                         "timestamp errors. File: \""),
                 path, SP_TEXT("\""))};
    case status::kCertUntrustedRoot:
      return {false,
              Quoted(SP_TEXT("The signature is present for \""), path,
                     SP_TEXT("\", but the certificate chain terminated in a "
                             "root certificate which is not trusted by the "
                             "trust provider."))};
    default:
      return {false, SP_TEXT("Error is: 0x") +
                         status::HexDigits<NativeChar>(result.status) +
                         SP_TEXT(".")};
  }
}

bool VerifyFileSignature(const NativeString& path, TrustService& trust,
                         Console& console) {
  const Verdict verdict = DescribeTrustResult(trust.Verify(path), path);
  console.Write(verdict.line + SP_TEXT("\n"));
  return verdict.valid;
}

}  // namespace sealprobe

// windows.h first: the trust headers rely on its types.
#include <windows.h>
// clang-format off
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <cstddef>
#include <type_traits>

#include "long_path.h"
#include "trust/trust_service.h"
#include "trust_status.h"

namespace sealprobe {
namespace {

#define SP_SAME_CODE(sdk, ours) \
  static_assert(static_cast<uint32_t>(sdk) == (ours), #sdk)
SP_SAME_CODE(TRUST_E_PROVIDER_UNKNOWN, status::kTrustProviderUnknown);
SP_SAME_CODE(TRUST_E_SUBJECT_FORM_UNKNOWN, status::kTrustSubjectFormUnknown);
SP_SAME_CODE(TRUST_E_SUBJECT_NOT_TRUSTED, status::kTrustSubjectNotTrusted);
SP_SAME_CODE(TRUST_E_NOSIGNATURE, status::kTrustNoSignature);
SP_SAME_CODE(CERT_E_EXPIRED, status::kCertExpired);
SP_SAME_CODE(CERT_E_UNTRUSTEDROOT, status::kCertUntrustedRoot);
SP_SAME_CODE(CERT_E_CHAINING, status::kCertChaining);
SP_SAME_CODE(CERT_E_WRONG_USAGE, status::kCertWrongUsage);
SP_SAME_CODE(TRUST_E_EXPLICIT_DISTRUST, status::kTrustExplicitDistrust);
SP_SAME_CODE(TRUST_E_BAD_DIGEST, status::kTrustBadDigest);
SP_SAME_CODE(CRYPT_E_FILE_ERROR, status::kCryptFileError);
SP_SAME_CODE(CRYPT_E_SECURITY_SETTINGS, status::kCryptSecuritySettings);
SP_SAME_CODE(CRYPT_E_ASN1_BADTAG, status::kCryptAsn1BadTag);
SP_SAME_CODE(NTE_BAD_ALGID, status::kNteBadAlgId);
SP_SAME_CODE(TRUST_E_NO_SIGNER_CERT, status::kTrustNoSignerCert);
SP_SAME_CODE(TRUST_E_CERT_SIGNATURE, status::kTrustCertSignature);
SP_SAME_CODE(TRUST_E_BASIC_CONSTRAINTS, status::kTrustBasicConstraints);
SP_SAME_CODE(ERROR_NOT_ENOUGH_MEMORY, status::kErrorNotEnoughMemory);
SP_SAME_CODE(CERT_E_CRITICAL, status::kCertCritical);
SP_SAME_CODE(CERT_E_INVALID_POLICY, status::kCertInvalidPolicy);
SP_SAME_CODE(CERT_E_INVALID_NAME, status::kCertInvalidName);
SP_SAME_CODE(TRUST_E_TIME_STAMP, status::kTrustTimeStamp);
SP_SAME_CODE(E_FAIL, status::kFail);
#undef SP_SAME_CODE
static_assert(
    status::LoadFailureStatus(ERROR_MOD_NOT_FOUND) ==
        static_cast<uint32_t>(__HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)),
    "HRESULT_FROM_WIN32");

// WINTRUST_DATA as current SDKs declare it, through its last field
// pSignatureSettings. Older headers (mingw-w64's among them) stop at
// dwUIContext; the record's size tells the service which layout it got, so
// it is declared here in full rather than taken from the header.
struct WintrustData {
  DWORD cbStruct;
  LPVOID pPolicyCallbackData;
  LPVOID pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WINTRUST_FILE_INFO* pFile;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  void* pSignatureSettings;
};
static_assert(sizeof(void*) != 8 || sizeof(WintrustData) == 88,
              "WINTRUST_DATA is 88 bytes on 64-bit Windows");
static_assert(offsetof(WintrustData, dwUIContext) ==
                  offsetof(WINTRUST_DATA, dwUIContext),
              "the fields the header knows sit where it puts them");

struct ModuleFree {
  void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID);

class WinVerifyTrustService final : public TrustService {
 public:
  // wintrust.dll is not one of the KnownDLLs: looked up the default way, a
  // copy in the folder the tool runs from would win over the system's. It is
  // loaded from System32 alone, and so are the DLLs it imports.
  WinVerifyTrustService()
      : module_(::LoadLibraryExW(L"wintrust.dll", nullptr,
                                 LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (!module_) {
      load_status_ = status::LoadFailureStatus(::GetLastError());
      return;
    }
    // FARPROC goes through the generic function pointer type, which GCC
    // lets convert to any other without a warning.
    verify_ =
        reinterpret_cast<WinVerifyTrustFunction>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(module_.get(), "WinVerifyTrust")));
    if (verify_ == nullptr) {
      load_status_ = status::LoadFailureStatus(::GetLastError());
    }
  }

  TrustResult Verify(const NativeString& path) override {
    if (verify_ == nullptr) return {load_status_, load_status_};

    // The same form the probe opened, so a long path names the file here too.
    const NativeString open_path = PathForFileFunctions(path);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = open_path.c_str();
    file.hFile = nullptr;
    file.pgKnownSubject = nullptr;

    WintrustData data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUIContext = WTD_UICONTEXT_EXECUTE;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = verify_(nullptr, &action, &data);
    // Read before anything else can touch the thread's last error.
    const DWORD last_error = ::GetLastError();
    return {static_cast<uint32_t>(status), static_cast<uint32_t>(last_error)};
  }

 private:
  Module module_;
  WinVerifyTrustFunction verify_ = nullptr;
  uint32_t load_status_ = status::kFail;
};

}  // namespace

std::unique_ptr<TrustService> MakePlatformTrustService() {
  return std::make_unique<WinVerifyTrustService>();
}

}  // namespace sealprobe

#include "trust/verdict.h"

#include <gtest/gtest.h>

namespace sealprobe {
namespace {

const NativeString kPath = SP_TEXT("C:\\Program Files\\Tarvo\\tv-Strings.dll");

TEST(VerdictTest, EachStatusGetsItsLine) {
  const struct {
    uint32_t status;
    uint32_t last_error;
    bool valid;
    // The line, with kPath in place of the first "%".
    NativeStringView line;
  } kCases[] = {
      {0, 0, true, SP_TEXT("\"%\" has a valid digital signature.")},
      // A stale last error does not matter when the file is valid.
      {0, 0x800B0100, true, SP_TEXT("\"%\" has a valid digital signature.")},
      {0x800B0100, 0x800B0100, false,
       SP_TEXT("The file \"%\" is not digitally signed.")},
      {0x800B0100, 0x800B0003, false,
       SP_TEXT("The file \"%\" is not digitally signed.")},
      {0x800B0100, 0x800B0001, false,
       SP_TEXT("The file \"%\" is not digitally signed.")},
      {0x800B0100, 0x8009310B, false,
       SP_TEXT("An unknown error occurred trying to verify the signature of "
               "the \"%\" file.")},
      {0x800B0100, 0, false,
       SP_TEXT("An unknown error occurred trying to verify the signature of "
               "the \"%\" file.")},
      {0x800B0111, 0, false,
       SP_TEXT("The signature is present for \"%\", but specifically "
               "disallowed.")},
      {0x800B0004, 0, false,
       SP_TEXT("The signature is present for \"%\", but not trusted.")},
      {0x80092026, 0, false,
       SP_TEXT("CRYPT_E_SECURITY_SETTINGS - The hash representing the subject "
               "or the publisher wasn't explicitly trusted by the admin and "
               "admin policy has disabled user trust. No signature, publisher "
               "or timestamp errors. File: \"%\"")},
      {0x800B0109, 0, false,
       SP_TEXT("The signature is present for \"%\", but the certificate chain "
               "terminated in a root certificate which is not trusted by the "
               "trust provider.")},
      // Everything else: the status in lower-case hex, and no path.
      {0x80096010, 0x80096010, false, SP_TEXT("Error is: 0x80096010.")},
      {0x800B0003, 0x800B0003, false, SP_TEXT("Error is: 0x800b0003.")},
      {0x800B010A, 0, false, SP_TEXT("Error is: 0x800b010a.")},
      {0x80092003, 0, false, SP_TEXT("Error is: 0x80092003.")},
      {1, 0, false, SP_TEXT("Error is: 0x1.")},
      {0xA, 0, false, SP_TEXT("Error is: 0xa.")},
      {0xFFFFFFFF, 0, false, SP_TEXT("Error is: 0xffffffff.")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << "status 0x" << c.status
                                    << " last error 0x" << c.last_error);
    NativeString line(c.line);
    if (const size_t at = line.find(SP_TEXT('%')); at != NativeString::npos) {
      line.replace(at, 1, kPath);
    }
    const Verdict verdict =
        DescribeTrustResult({c.status, c.last_error}, kPath);
    EXPECT_EQ(verdict.valid, c.valid);
    EXPECT_EQ(verdict.line, line);
  }
}

}  // namespace
}  // namespace sealprobe

// What the C++ tests share besides the fakes: a temporary folder, files'
// bytes, the fixtures the test run makes, and an environment variable set
// for one test.
#ifndef SEALPROBE_TESTING_TEST_SUPPORT_H_
#define SEALPROBE_TESTING_TEST_SUPPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_text.h"

namespace sealprobe {

// A fresh folder under the system's temporary folder, removed with
// everything in it when the object goes; a failed removal fails the test.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // False when the folder could not be made.
  bool ok() const { return !path_.empty(); }
  // The path of `name` in the folder.
  NativeString operator/(NativeStringView name) const;

 private:
  NativeString path_;
};

// The bytes of the file at `path`; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const NativeString& path);

// Writes `bytes` to a new file at `path`; false when that fails.
bool WriteFileBytes(const NativeString& path, std::string_view bytes);

// `relative` in the folder of test fixtures that make_fixtures.sh made for
// this test run (SEALPROBE_FIXTURES); empty when that is not set.
std::string FixturePath(const std::string& relative);

// A signed fixture as OUT/files/digests.txt lists it: its name in
// OUT/files, the digest algorithm of its signature and its Authenticode hash
// in upper-case hexadecimal, as osslsigncode computes them.
struct SignedFixture {
  std::string name;
  std::string algorithm;
  std::string hash;
};
std::vector<SignedFixture> SignedFixtures();

// Sets an environment variable for the life of the object, then puts back
// what was there before (or nothing).
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, const std::string& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) =
      delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Sets (or, given nullopt, removes) the environment variable `name`.
void SetEnvironmentValue(const std::string& name,
                         const std::optional<std::string>& value);

// Makes standard output carry the bytes the tests print unchanged: on
// Windows the C runtime would turn each "\n" into "\r\n", and CTest could not
// read the list of test cases.
void UseBinaryStandardOutput();

}  // namespace sealprobe

#endif  // SEALPROBE_TESTING_TEST_SUPPORT_H_

#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace sealprobe {

TempFolder::TempFolder() {
  std::error_code error;
  const std::filesystem::path base =
      std::filesystem::temp_directory_path(error);
  if (error) return;
  const auto now = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("sealprobe-test-" + std::to_string(now + attempt));
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate.native();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  if (error) ADD_FAILURE() << "could not remove a temporary folder";
}

NativeString TempFolder::operator/(NativeStringView name) const {
  return (std::filesystem::path(path_) / name).native();
}

std::vector<uint8_t> ReadFileBytes(const NativeString& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const NativeString& path, std::string_view bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out.good();
}

std::string FixturePath(const std::string& relative) {
  const char* dir = std::getenv("SEALPROBE_FIXTURES");
  return dir == nullptr ? std::string() : std::string(dir) + "/" + relative;
}

std::vector<SignedFixture> SignedFixtures() {
  std::ifstream list(FixturePath("files/digests.txt"));
  std::vector<SignedFixture> fixtures;
  SignedFixture f;
  while (list >> f.name >> f.algorithm >> f.hash) fixtures.push_back(f);
  return fixtures;
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::string& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) saved_ = old;
  SetEnvironmentValue(name_, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentValue(name_, saved_);
}

}  // namespace sealprobe

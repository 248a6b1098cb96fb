#include <cstdlib>

#include "testing/test_support.h"

namespace sealprobe {

void SetEnvironmentValue(const std::string& name,
                         const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

// POSIX writes bytes as they are.
void UseBinaryStandardOutput() {}

}  // namespace sealprobe

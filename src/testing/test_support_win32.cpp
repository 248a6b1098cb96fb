#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/test_support.h"

namespace sealprobe {

void SetEnvironmentValue(const std::string& name,
                         const std::optional<std::string>& value) {
  // "NAME=" removes the variable; the runtime keeps a copy of the text.
  ::_putenv((name + "=" + value.value_or(std::string())).c_str());
}

void UseBinaryStandardOutput() { ::_setmode(::_fileno(stdout), _O_BINARY); }

}  // namespace sealprobe

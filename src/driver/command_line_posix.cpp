#include "driver/command_line.h"

namespace sealprobe {

// exec() hands a program its argument vector as the caller built it; there is
// no line to split again.
std::optional<NativeString> ProcessCommandLine() { return std::nullopt; }

}  // namespace sealprobe

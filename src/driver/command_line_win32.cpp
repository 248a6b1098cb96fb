#include <windows.h>

#include "driver/command_line.h"

namespace sealprobe {

std::optional<NativeString> ProcessCommandLine() {
  return NativeString(::GetCommandLineW());
}

}  // namespace sealprobe

#ifndef SEALPROBE_DRIVER_UI_LEVEL_H_
#define SEALPROBE_DRIVER_UI_LEVEL_H_

#include <cstdint>

#include "native_text.h"

namespace sealprobe {

// Reads the installer's UI level as a decimal integer: leading blanks, tabs
// and other ASCII white space skipped, one optional sign, then ASCII digits up
// to the first other character. Text that does not begin with a number gives
// 0; a value beyond 32 bits is clamped to INT32_MAX or INT32_MIN.
int32_t ParseUiLevel(NativeStringView text);

}  // namespace sealprobe

#endif  // SEALPROBE_DRIVER_UI_LEVEL_H_

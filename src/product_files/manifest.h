// The product's files whose signatures are checked, in the order they are
// checked. The order decides which failure stops a run.
#ifndef SEALPROBE_PRODUCT_FILES_MANIFEST_H_
#define SEALPROBE_PRODUCT_FILES_MANIFEST_H_

#include <array>

#include "native_text.h"

namespace sealprobe {

// 34 bare file names. The tool's own executable stands twice in a row, so it
// is located and verified twice.
extern const std::array<NativeStringView, 34> kProductFileManifest;

}  // namespace sealprobe

#endif  // SEALPROBE_PRODUCT_FILES_MANIFEST_H_

#include "long_path.h"

namespace sealprobe {

// open() takes any path up to PATH_MAX as it is; there is no other form.
NativeString PathForFileFunctions(const NativeString& path) { return path; }

}  // namespace sealprobe

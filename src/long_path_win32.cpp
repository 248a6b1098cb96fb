#include <windows.h>

#include "long_path.h"

namespace sealprobe {

NativeString PathForFileFunctions(const NativeString& path) {
  // The same normalization the file functions apply to a short path
  // (relative parts, "/", runs of separators, trailing dots and spaces), done
  // here because they skip it for the extended-length form. A path given in
  // that form keeps it, with single separators.
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return WithSingleSeparators(path);
  NativeString full(size, L'\0');
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return WithSingleSeparators(path);
  full.resize(length);
  if (!NeedsExtendedLengthForm(path, full)) return WithSingleSeparators(path);
  return ExtendedLengthForm(full);
}

}  // namespace sealprobe

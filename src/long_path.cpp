#include "long_path.h"

namespace sealprobe {
namespace {

constexpr NativeStringView kExtendedPrefix = SP_TEXT("\\\\?\\");
constexpr NativeStringView kDevicePrefix = SP_TEXT("\\\\.\\");
constexpr NativeStringView kUncPrefix = SP_TEXT("\\\\");
constexpr NativeStringView kExtendedUncPrefix = SP_TEXT("\\\\?\\UNC\\");

bool StartsWith(NativeStringView text, NativeStringView prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsPrefixedAlready(NativeStringView path) {
  return StartsWith(path, kExtendedPrefix) || StartsWith(path, kDevicePrefix);
}

}  // namespace

bool NeedsExtendedLengthForm(NativeStringView path,
                             NativeStringView full_path) {
  if (IsPrefixedAlready(path)) return false;
  return path.size() >= kMaxPath || full_path.size() >= kMaxPath;
}

NativeString ExtendedLengthForm(NativeStringView full_path) {
  if (IsPrefixedAlready(full_path)) return NativeString(full_path);
  NativeString extended;
  if (StartsWith(full_path, kUncPrefix)) {
    extended = kExtendedUncPrefix;
    extended.append(full_path.substr(kUncPrefix.size()));
  } else {
    extended = kExtendedPrefix;
    extended.append(full_path);
  }
  return extended;
}

NativeString WithSingleSeparators(NativeStringView path) {
  if (!StartsWith(path, kExtendedPrefix)) return NativeString(path);
  NativeString single(kExtendedPrefix);
  for (const NativeChar c : path.substr(kExtendedPrefix.size())) {
    if (c == SP_TEXT('\\') && single.back() == SP_TEXT('\\')) continue;
    single.push_back(c);
  }
  return single;
}

}  // namespace sealprobe

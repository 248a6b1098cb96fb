// Paths of MAX_PATH characters or more. A default Windows opens such a path
// only in its extended-length form ("\\?\C:\..."), which the file functions
// pass to the file system without parsing it: no relative parts, no "/", so
// it has to be made absolute first. Without it a present, tampered file deep
// in a folder tree would count as missing.
#ifndef SEALPROBE_LONG_PATH_H_
#define SEALPROBE_LONG_PATH_H_

#include <cstddef>

#include "native_text.h"

namespace sealprobe {

// MAX_PATH: the classic limit, terminating null included. A path of this many
// characters or more needs the extended-length form.
inline constexpr size_t kMaxPath = 260;

// Whether `path` must be handed to the file functions in extended-length
// form: it, or `full_path` (its absolute form, as GetFullPathNameW makes it),
// is kMaxPath characters or longer, and `path` does not start with "\\?\" or
// "\\.\" already.
bool NeedsExtendedLengthForm(NativeStringView path, NativeStringView full_path);

// `full_path`, an absolute path, in extended-length form: "\\?\" before a
// drive path ("\\?\C:\a"), "\\?\UNC\" in place of the leading "\\" of a UNC
// path ("\\?\UNC\server\share\a"); a path that starts with "\\?\" or "\\.\"
// is returned as it is.
NativeString ExtendedLengthForm(NativeStringView full_path);

// `path` with each run of backslashes after an extended-length prefix
// ("\\?\") shortened to one; any other path as it is. The file functions take
// such a path literally, and a doubled separator there names an empty
// component, which no file has: "\\?\C:\Tarvo\\a.dll" opens nothing, where
// "C:\Tarvo\\a.dll" opens C:\Tarvo\a.dll. A folder argument in that form
// ending in "\\" would otherwise hide every file in it, a tampered one too.
NativeString WithSingleSeparators(NativeStringView path);

// The form of `path` to hand to the platform's file functions: on Windows,
// where NeedsExtendedLengthForm says so, the extended-length form of its
// absolute path (GetFullPathNameW, which also shortens runs of separators);
// a path given in extended-length form, WithSingleSeparators of it;
// otherwise, and on POSIX, `path` itself. Whatever it returns names the same
// file, a run of separators read as one; console lines keep `path`.
NativeString PathForFileFunctions(const NativeString& path);

}  // namespace sealprobe

#endif  // SEALPROBE_LONG_PATH_H_

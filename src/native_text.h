// Text as the platform hands it to the tool: UTF-16 on Windows, where the
// entry point is wmain and every interface is wide; bytes elsewhere, passed to
// open() and to standard output exactly as given, whatever the locale.
#ifndef SEALPROBE_NATIVE_TEXT_H_
#define SEALPROBE_NATIVE_TEXT_H_

#include <string>
#include <string_view>

namespace sealprobe {

#ifdef _WIN32
using NativeChar = wchar_t;
#define SP_TEXT(literal) L##literal
#else
using NativeChar = char;
#define SP_TEXT(literal) literal
#endif

using NativeString = std::basic_string<NativeChar>;
using NativeStringView = std::basic_string_view<NativeChar>;

}  // namespace sealprobe

#endif  // SEALPROBE_NATIVE_TEXT_H_

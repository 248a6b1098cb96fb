#include <climits>
#include <cstdlib>
#include <cwchar>

#include "driver/stdout_console.h"

namespace sealprobe {
namespace {

// The runtime converts wide text to the stream's bytes in the current locale
// (the tool keeps the default one) and gives up at the first character it
// cannot convert, dropping the rest of the line, its line break included: a
// path with such a character would run into the next line. Those characters
// are shown as '?' instead, so every line stays whole; everything the
// runtime can convert is left to it.
NativeString Printable(NativeStringView text) {
  NativeString line(text);
  char bytes[MB_LEN_MAX];
  for (wchar_t& c : line) {
    std::mbstate_t state{};
    if (std::wcrtomb(bytes, c, &state) == static_cast<size_t>(-1)) c = L'?';
  }
  return line;
}

class StdoutConsole final : public Console {
 public:
  void Write(NativeStringView text) override {
    // %ls is a wide string under both the Microsoft and the C99 printf.
    std::wprintf(L"%ls", Printable(text).c_str());
  }
};

}  // namespace

std::unique_ptr<Console> MakeStdoutConsole() {
  return std::make_unique<StdoutConsole>();
}

}  // namespace sealprobe

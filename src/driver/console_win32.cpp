#include <cwchar>

#include "driver/console.h"

namespace sealprobe {
namespace {

class StdoutConsole final : public Console {
 public:
  void Write(NativeStringView text) override {
    // %ls is a wide string under both the Microsoft and the C99 printf.
    const NativeString line(text);
    std::wprintf(L"%ls", line.c_str());
  }
};

}  // namespace

std::unique_ptr<Console> MakeStdoutConsole() {
  return std::make_unique<StdoutConsole>();
}

}  // namespace sealprobe

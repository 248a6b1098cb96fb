#include <cstdio>

#include "driver/stdout_console.h"

namespace sealprobe {
namespace {

class StdoutConsole final : public Console {
 public:
  void Write(NativeStringView text) override {
    // Bytes as given: no locale conversion, so names that are not valid in
    // the current encoding reach the reader unchanged.
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
};

}  // namespace

std::unique_ptr<Console> MakeStdoutConsole() {
  return std::make_unique<StdoutConsole>();
}

}  // namespace sealprobe

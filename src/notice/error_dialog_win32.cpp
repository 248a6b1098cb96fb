#include <windows.h>

#include "notice/error_dialog.h"

namespace sealprobe {
namespace {

class MessageBoxDialog final : public ErrorDialog {
 public:
  void Show(const NativeString& caption, const NativeString& text) override {
    // The result is of no interest: whatever the user does, the run fails.
    ::MessageBoxW(::GetActiveWindow(), text.c_str(), caption.c_str(),
                  MB_ICONERROR);
  }
};

}  // namespace

std::unique_ptr<ErrorDialog> MakePlatformErrorDialog() {
  return std::make_unique<MessageBoxDialog>();
}

}  // namespace sealprobe

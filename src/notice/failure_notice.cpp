#include "notice/failure_notice.h"

namespace sealprobe {
namespace {
constexpr NativeStringView kPlaceholder = SP_TEXT("{FileName}");
}  // namespace

FailureNotice PrepareFailureNotice(const NativeString& message) {
  const size_t at = message.find(kPlaceholder);
  if (at == NativeString::npos) return {message, NativeString(), false};
  return {message.substr(0, at), message.substr(at + kPlaceholder.size()),
          true};
}

NativeString DialogText(const FailureNotice& notice,
                        NativeStringView file_name) {
  NativeString text = notice.prefix;
  if (!notice.has_placeholder && !text.empty()) text.append(SP_TEXT("\n\n"));
  text.append(file_name);
  text.append(notice.suffix);
  return text;
}

}  // namespace sealprobe

// The localized failure message, split once at its "{FileName}" placeholder,
// and the text of the error dialog built from it.
#ifndef SEALPROBE_NOTICE_FAILURE_NOTICE_H_
#define SEALPROBE_NOTICE_FAILURE_NOTICE_H_

#include "native_text.h"

namespace sealprobe {

struct FailureNotice {
  NativeString prefix;  // the message before the first "{FileName}"
  NativeString suffix;  // the message after it; later placeholders stay as text
  // False when the message holds no exact "{FileName}"; `prefix` is then the
  // whole message and `suffix` is empty.
  bool has_placeholder = false;
};

// Splits `message` at its first exact, case-sensitive "{FileName}". Accepts
// any message, the empty one included.
FailureNotice PrepareFailureNotice(const NativeString& message);

// The dialog text for the failing entry `file_name` (a bare name, no folder):
// prefix, name, suffix. A message without a placeholder is shown whole, with
// the name on a line of its own after a blank line (or alone when the message
// is empty), so the reader still learns which file failed.
NativeString DialogText(const FailureNotice& notice,
                        NativeStringView file_name);

}  // namespace sealprobe

#endif  // SEALPROBE_NOTICE_FAILURE_NOTICE_H_

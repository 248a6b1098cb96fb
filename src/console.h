// The output seam: every console line the tool writes goes through a Console,
// so the run sequence can be tested against a recording fake.
#ifndef SEALPROBE_CONSOLE_H_
#define SEALPROBE_CONSOLE_H_

#include "native_text.h"

namespace sealprobe {

class Console {
 public:
  virtual ~Console() = default;
  // Writes `text` to standard output as it stands; `text` carries its own
  // line breaks. Never flushes, never fails loudly: a write that the
  // platform rejects is lost, as a write to a closed pipe would be.
  virtual void Write(NativeStringView text) = 0;
};

}  // namespace sealprobe

#endif  // SEALPROBE_CONSOLE_H_

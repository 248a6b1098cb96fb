#include "notice/error_dialog.h"

namespace sealprobe {

bool DialogCanBeAnswered(std::optional<uint32_t> session,
                         std::optional<bool> station_visible) {
  const bool user_session = session.has_value() && *session != 0;
  return user_session && station_visible.value_or(false);
}

}  // namespace sealprobe

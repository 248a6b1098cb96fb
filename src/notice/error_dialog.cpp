#include "notice/error_dialog.h"

namespace sealprobe {

bool DialogCanBeAnswered(const DialogSurroundings& where) {
  const bool user_session = where.session.has_value() && *where.session != 0;
  return user_session && where.station_visible.value_or(false) &&
         !where.started_hidden && where.on_input_desktop.value_or(false);
}

}  // namespace sealprobe

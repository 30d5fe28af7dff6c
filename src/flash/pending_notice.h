// The one balloon waiting for the tray, part of the firmware state. FirmwareStore posts it under
// the firmware lock and sends WM_APP_FIRMWARE with FW_NOTICE once the lock is released.
#pragma once

#include <cstdarg>
#include <string>

#include "flash/firmware_service.h"

namespace tw {

enum class NoticeKind { Information, Warning };

struct PendingNotice {
  bool pending = false;
  NoticeKind kind = NoticeKind::Information;
  std::string title;  // at most 63 UTF-16 units, else empty
  std::string text;   // at most 255 UTF-16 units, else empty
};

// Formats the text (cut to 399 bytes) and replaces any notice not yet shown. A title or text that
// would not fit the balloon's buffers is left empty rather than cut.
void postNotice(PendingNotice& notice, NoticeKind kind, const char* title, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Copies and clears a pending notice; false when there is none.
bool takeNotice(PendingNotice& notice, TrayNotice& out);

}  // namespace tw

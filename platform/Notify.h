// The phone's notification database: "start this program with these arguments at this local
// time". Entries live in the device store; the notification runner fires them.
#pragma once

#include <string>
#include <vector>

#include "platform/Time.h"
#include "platform/Types.h"

namespace platform {

inline constexpr DWORD CNT_TIME = 2;

// The registration record. Only time notifications are supported.
struct CE_NOTIFICATION_TRIGGER {
  DWORD dwSize = 52;
  DWORD dwType = CNT_TIME;
  DWORD dwEvent = 0;
  std::string lpszApplication;  // host path of the program to start
  std::string lpszArguments;    // its command line; empty for none
  SYSTEMTIME stStartTime{};     // device local time at which to start it
  SYSTEMTIME stEndTime{};
};

// Registers the notification (replacing `replace` when it is not 0). Returns its handle, or 0
// when the record is refused (not a time notification, no application, an invalid time).
HNOTIFY CeSetUserNotificationEx(HNOTIFY replace, const CE_NOTIFICATION_TRIGGER& trigger);
BOOL CeClearUserNotification(HNOTIFY handle);
// At most `max` handles in the order of registration; `total` receives how many exist.
BOOL CeGetUserNotificationHandles(std::vector<HNOTIFY>* out, DWORD max, DWORD* total = nullptr);
BOOL CeGetUserNotification(HNOTIFY handle, CE_NOTIFICATION_TRIGGER* out);

// Wakes the device's notification runner so that it looks at the database and the clock again.
void WakeNotificationRunner();

}  // namespace platform

#include "platform/Notify.h"

#include "platform/Device.h"
#include "platform/Endpoint.h"

namespace platform {

HNOTIFY CeSetUserNotificationEx(HNOTIFY replace, const CE_NOTIFICATION_TRIGGER& trigger) {
  Device* dev = Device::Current();
  if (!dev || trigger.dwType != CNT_TIME || trigger.lpszApplication.empty() ||
      !IsValidSystemTime(trigger.stStartTime)) {
    return 0;
  }
  Store& store = dev->store();
  HNOTIFY handle = 0;
  try {
    store.Transaction([&] {
      if (replace) {
        store.Prepare("DELETE FROM notifications WHERE handle=?")
            .Bind(1, static_cast<std::int64_t>(replace))
            .Run();
      }
      store
          .Prepare(
              "INSERT INTO notifications(app,args,due,due_ms,created) "
              "VALUES(?,?,?,?,datetime('now'))")
          .Bind(1, trigger.lpszApplication)
          .Bind(2, trigger.lpszArguments)
          .Bind(3, FormatSystemTime(trigger.stStartTime))
          .Bind(4, SystemTimeToMs(trigger.stStartTime))
          .Run();
      handle = static_cast<HNOTIFY>(store.LastInsertId());
    });
  } catch (const StoreError&) {
    return 0;
  }
  WakeNotificationRunner();
  return handle;
}

BOOL CeClearUserNotification(HNOTIFY handle) {
  Device* dev = Device::Current();
  if (!dev || handle == 0)
    return 0;
  int changes = 0;
  try {
    Store& store = dev->store();
    store.Transaction([&] {
      store.Prepare("DELETE FROM notifications WHERE handle=?")
          .Bind(1, static_cast<std::int64_t>(handle))
          .Run();
      changes = store.Changes();
    });
  } catch (const StoreError&) {
    return 0;
  }
  if (changes)
    WakeNotificationRunner();
  return changes ? 1 : 0;
}

BOOL CeGetUserNotificationHandles(std::vector<HNOTIFY>* out, DWORD max, DWORD* total) {
  Device* dev = Device::Current();
  if (!dev || !out)
    return 0;
  out->clear();
  auto st = dev->store().Prepare("SELECT handle FROM notifications ORDER BY handle");
  DWORD count = 0;
  while (st.Step()) {
    if (count < max)
      out->push_back(static_cast<HNOTIFY>(st.Int(0)));
    ++count;
  }
  if (total)
    *total = count;
  return 1;
}

BOOL CeGetUserNotification(HNOTIFY handle, CE_NOTIFICATION_TRIGGER* out) {
  Device* dev = Device::Current();
  if (!dev || !out)
    return 0;
  auto st = dev->store().Prepare("SELECT app, args, due_ms FROM notifications WHERE handle=?");
  st.Bind(1, static_cast<std::int64_t>(handle));
  if (!st.Step())
    return 0;
  *out = CE_NOTIFICATION_TRIGGER{};
  out->lpszApplication = st.Text(0);
  out->lpszArguments = st.Text(1);
  out->stStartTime = MsToSystemTime(st.Int(2));
  return 1;
}

void WakeNotificationRunner() {
  Device* dev = Device::Current();
  if (!dev)
    return;
  try {
    int runner = dev->endpoint().FindRole("runner");
    if (runner)
      dev->endpoint().Send(runner, PacketKind::kWakeRunner, {});
  } catch (const StoreError&) {
  }
}

}  // namespace platform

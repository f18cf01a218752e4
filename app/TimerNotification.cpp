#include "app/TimerNotification.h"

#include <cstdio>
#include <vector>

#include "platform/Mosutil.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace timernotification {

std::string TimerArgument(int id, int param) {
  return platform::FormatLimited(260, kTimerFormat, id, param);
}

void ParseTimerArgument(const std::string& text, int* id, int* param) {
  int a = 0, b = 0;
  std::sscanf(text.c_str(), kTimerFormat, &a, &b);
  *id = a;
  *param = b;
}

std::string ProgramPath() {
  static const std::string path = platform::CurrentExecutablePath();
  return path;
}

platform::HNOTIFY Register(const std::string& arguments, std::int64_t unitTicks,
                           std::int64_t count) {
  platform::CE_NOTIFICATION_TRIGGER trigger;
  trigger.lpszApplication = platform::Utf8Truncate(ProgramPath(), 260);
  trigger.lpszArguments = arguments;
  platform::SYSTEMTIME now;
  platform::Clock::GetLocalTime(&now);
  platform::DT_AddDiff(&trigger.stStartTime, unitTicks, count, now);
  return platform::CeSetUserNotificationEx(0, trigger);
}

void Clear(platform::HNOTIFY handle) {
  if (handle)
    platform::CeClearUserNotification(handle);
}

int ClearAllOfThisProgram(int limit) {
  std::vector<platform::HNOTIFY> handles;
  platform::CeGetUserNotificationHandles(&handles, static_cast<platform::DWORD>(limit));
  int cleared = 0;
  for (platform::HNOTIFY h : handles) {
    platform::CE_NOTIFICATION_TRIGGER t;
    if (platform::CeGetUserNotification(h, &t) && t.lpszApplication == ProgramPath()) {
      if (platform::CeClearUserNotification(h))
        ++cleared;
    }
  }
  return cleared;
}

bool Exists(int id, int param, int limit) {
  std::vector<platform::HNOTIFY> handles;
  platform::CeGetUserNotificationHandles(&handles, static_cast<platform::DWORD>(limit));
  for (platform::HNOTIFY h : handles) {
    platform::CE_NOTIFICATION_TRIGGER t;
    if (!platform::CeGetUserNotification(h, &t) || t.lpszApplication != ProgramPath())
      continue;
    if (t.lpszArguments.find(kTimerMarker) == std::string::npos)
      continue;
    int a, b;
    ParseTimerArgument(t.lpszArguments, &a, &b);
    if (a == id && b == param)
      return true;
  }
  return false;
}

}  // namespace timernotification

std::mutex CLimitNotifications::mutex_;
std::map<int, platform::HNOTIFY> CLimitNotifications::handles_;

platform::HNOTIFY CLimitNotifications::Get(int id) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(id);
  return it == handles_.end() ? 0 : it->second;
}

void CLimitNotifications::Set(int id, platform::HNOTIFY handle) {
  std::lock_guard lock(mutex_);
  handles_[id] = handle;
}

platform::HNOTIFY CLimitNotifications::Take(int id) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(id);
  if (it == handles_.end())
    return 0;
  platform::HNOTIFY h = it->second;
  it->second = 0;
  return h;
}

// Timed notifications of the program: "start me with this argument at that time".
//
// The program keeps no timers of its own for time limits, time-frame boundaries or idle checks:
// it registers a notification that starts its own executable with an argument; the new process
// relays the argument to the running one (see the entry function), whose main window offers it
// to every timer target.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/Notify.h"

// Something the main window offers every timed notification to.
class ITimerNotificationTarget {
 public:
  virtual ~ITimerNotificationTarget() = default;
  // Called on the user-interface thread. The target compares `id` with its own and ignores the
  // call otherwise.
  virtual void DispatchTimerNotification(int id, int param) = 0;
};

namespace timernotification {

inline constexpr const char* kTimerFormat = "timer_notification_%02d_%02d";
inline constexpr const char* kTimerMarker = "timer_notification";
inline constexpr const char* kIdleArgument = "iddle_notification";

// "timer_notification_%02d_%02d" filled with (id, param).
std::string TimerArgument(int id, int param);

// Reads the two numbers with the timer format from the start of `text`; a field that cannot be
// read is 0.
void ParseTimerArgument(const std::string& text, int* id, int* param);

// The program's own executable, as the notifications name it.
std::string ProgramPath();

// Registers a notification that starts this program with `arguments` (empty for none) at the
// local time now plus `count` units of `unitTicks` (100-ns ticks). Returns the handle, 0 when
// the platform refused it.
platform::HNOTIFY Register(const std::string& arguments, std::int64_t unitTicks,
                           std::int64_t count);

// Removes a notification; a null handle does nothing.
void Clear(platform::HNOTIFY handle);

// Removes every notification whose application is this program (at most `limit` examined).
int ClearAllOfThisProgram(int limit = 500);

// True when a "timer_notification" of this program with (id, param) is registered.
bool Exists(int id, int param, int limit = 500);

}  // namespace timernotification

// Handles of the time-limit notifications by target id (managers 0..6, schedule engine 7, 8);
// 0 = none. At most one per target id.
class CLimitNotifications {
 public:
  static platform::HNOTIFY Get(int id);
  static void Set(int id, platform::HNOTIFY handle);
  // Returns the stored handle and stores 0.
  static platform::HNOTIFY Take(int id);

 private:
  static std::mutex mutex_;
  static std::map<int, platform::HNOTIFY> handles_;
};

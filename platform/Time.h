// Time on the simulated phone.
//
// Device local time is the host's local time plus a clock offset kept in the device store, so
// moving the phone's clock (`telvane-device clock +90m`) is seen by every process at once. For
// deterministic in-process tests the clock can instead be fully virtual and advanced by hand.
// Tick counts and the performance counter always follow the host's monotonic clock.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

// The hardware event that announces a change of the device clock to every process of the device
// (payload: the new offset in milliseconds). Raised by Clock::SetOffsetMs.
inline constexpr const char* kClockEvent = "clock";

// A calendar date and time of day, in the phone's local time. Eight 16-bit fields.
struct SYSTEMTIME {
  WORD wYear = 0;
  WORD wMonth = 0;      // 1..12
  WORD wDayOfWeek = 0;  // 0 = Sunday
  WORD wDay = 0;        // 1..31
  WORD wHour = 0;
  WORD wMinute = 0;
  WORD wSecond = 0;
  WORD wMilliseconds = 0;
};

// Hour and minute of a day, for comparing times within a day. Compares hour first, then minute.
struct TimeOfDay {
  std::int32_t Hour = 0;
  std::int32_t Minute = 0;

  TimeOfDay() = default;
  TimeOfDay(std::int32_t hour, std::int32_t minute) : Hour(hour), Minute(minute) {}
  explicit TimeOfDay(const SYSTEMTIME& st) : Hour(st.wHour), Minute(st.wMinute) {}

  friend auto operator<=>(const TimeOfDay&, const TimeOfDay&) = default;
};

// Milliseconds from 1970-01-01 00:00:00.000 to the civil time in `st` (the day of week is
// ignored). Used to add to and compare local times; no time zone is involved.
std::int64_t SystemTimeToMs(const SYSTEMTIME& st);
// The civil time `ms` milliseconds after 1970-01-01 00:00, with the day of week filled in.
SYSTEMTIME MsToSystemTime(std::int64_t ms);
// True when the fields name a real date and time (month 1..12, day within the month, ...).
bool IsValidSystemTime(const SYSTEMTIME& st);
// "YYYY-MM-DD HH:MM:SS".
std::string FormatSystemTime(const SYSTEMTIME& st);
// Reads "YYYY-MM-DD HH:MM:SS" (or "YYYY-MM-DD HH:MM"); false when the text is not a valid time.
bool ParseSystemTime(std::string_view text, SYSTEMTIME* out);

class Clock {
 public:
  // The phone's local time now.
  static void GetLocalTime(SYSTEMTIME* out);
  static SYSTEMTIME LocalTime();
  // The phone's local time now, in the milliseconds of SystemTimeToMs.
  static std::int64_t LocalNowMs();
  // The host's local time now, in the same milliseconds.
  static std::int64_t HostLocalNowMs();

  // Offset of the device clock from the host clock, kept in the device store. Setting it wakes
  // every process that waits for device time (the notification runner) and broadcasts
  // kClockEvent, the phone's time-change message, to every process of the device.
  static std::int64_t OffsetMs();
  static void SetOffsetMs(std::int64_t offsetMs);

  // A virtual clock for this process only: local time stands at `startMs` and moves only when
  // advanced. Used by deterministic tests and simulations.
  static void UseVirtual(std::int64_t startMs);
  static void AdvanceVirtual(std::int64_t deltaMs);
  static void UseReal();
  static bool IsVirtual();
};

// Milliseconds since an arbitrary start, from the monotonic clock (wraps like the phone's).
DWORD GetTickCount();
// High-resolution counter and its frequency (counts per second).
std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();
void Sleep(DWORD ms);

}  // namespace platform

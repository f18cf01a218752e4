#include "platform/Time.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"

namespace platform {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && IsLeap(y))
    return 29;
  return days[m - 1];
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0)))
    --q;
  return q;
}

std::atomic<bool> g_virtual{false};
std::atomic<std::int64_t> g_virtualMs{0};

}  // namespace

std::int64_t SystemTimeToMs(const SYSTEMTIME& st) {
  std::int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay);
  return ((days * 24 + st.wHour) * 60 + st.wMinute) * 60000LL + st.wSecond * 1000LL +
         st.wMilliseconds;
}

SYSTEMTIME MsToSystemTime(std::int64_t ms) {
  std::int64_t days = FloorDiv(ms, 86400000LL);
  std::int64_t rest = ms - days * 86400000LL;
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  // 1970-01-01 was a Thursday (4).
  st.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);
  st.wHour = static_cast<WORD>(rest / 3600000);
  st.wMinute = static_cast<WORD>(rest / 60000 % 60);
  st.wSecond = static_cast<WORD>(rest / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(rest % 1000);
  return st;
}

bool IsValidSystemTime(const SYSTEMTIME& st) {
  if (st.wYear < 1601 || st.wYear > 30827)
    return false;
  if (st.wMonth < 1 || st.wMonth > 12)
    return false;
  if (st.wDay < 1 || st.wDay > DaysInMonth(st.wYear, st.wMonth))
    return false;
  return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

std::string FormatSystemTime(const SYSTEMTIME& st) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute, st.wSecond);
  return buf;
}

bool ParseSystemTime(std::string_view text, SYSTEMTIME* out) {
  std::string s(text);
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  char tail = 0;
  int n = std::sscanf(s.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &se, &tail);
  if (n == 5) {
    se = 0;
  } else if (n != 6) {
    return false;
  }
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(se);
  if (!IsValidSystemTime(st))
    return false;
  *out = MsToSystemTime(SystemTimeToMs(st));
  return true;
}

std::int64_t Clock::HostLocalNowMs() {
  auto now = std::chrono::system_clock::now();
  std::int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(FloorDiv(ms, 1000));
  std::tm local{};
  localtime_r(&secs, &local);
  return ms + static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
}

std::int64_t Clock::OffsetMs() {
  Device* dev = Device::Current();
  return dev ? dev->ClockOffsetMs() : 0;
}

void Clock::SetOffsetMs(std::int64_t offsetMs) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  dev->SetClockOffsetMs(offsetMs);
  // Programs that keep times of day (the schedule's boundaries) must look at the clock again.
  BroadcastHardwareEvent(kClockEvent, std::to_string(offsetMs));
}

std::int64_t Clock::LocalNowMs() {
  if (g_virtual.load())
    return g_virtualMs.load();
  return HostLocalNowMs() + OffsetMs();
}

void Clock::GetLocalTime(SYSTEMTIME* out) {
  *out = MsToSystemTime(LocalNowMs());
}

SYSTEMTIME Clock::LocalTime() {
  return MsToSystemTime(LocalNowMs());
}

void Clock::UseVirtual(std::int64_t startMs) {
  g_virtualMs.store(startMs);
  g_virtual.store(true);
}

void Clock::AdvanceVirtual(std::int64_t deltaMs) {
  g_virtualMs.fetch_add(deltaMs);
}

void Clock::UseReal() {
  g_virtual.store(false);
}

bool Clock::IsVirtual() {
  return g_virtual.load();
}

DWORD GetTickCount() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::int64_t QueryPerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t QueryPerformanceFrequency() {
  return 1000000000LL;
}

void Sleep(DWORD ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace platform

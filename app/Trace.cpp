#include "app/Trace.h"

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/Diagnostics.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace {

std::mutex g_mutex;
std::once_flag g_once;
std::atomic<int> g_level{6};  // above FATAL: nothing is written
FILE* g_file = nullptr;
bool g_ownFile = false;

void ConfigureLocked() {
  if (g_ownFile && g_file)
    std::fclose(g_file);
  g_file = nullptr;
  g_ownFile = false;
  g_level = 6;
  const char* env = std::getenv("TELVANE_TRACE");
  if (!env || !*env)
    return;
  std::string setting(env);
  std::string levelText = setting.substr(0, setting.find(':'));
  int level = std::atoi(levelText.c_str());
  if (level < 0 || level > 5)
    return;
  if (auto colon = setting.find(':'); colon != std::string::npos && colon + 1 < setting.size()) {
    g_file = std::fopen(setting.substr(colon + 1).c_str(), "a");
    g_ownFile = g_file != nullptr;
  } else {
    g_file = stderr;
  }
  if (g_file)
    g_level = level;
}

void EnsureConfigured() {
  std::call_once(g_once, [] {
    std::lock_guard lock(g_mutex);
    ConfigureLocked();
  });
}

void PlatformDiagnostic(const char* line) {
  Trace(TRACE_WARNING, "%s", line);
}

// The platform's diagnostic lines (dropped datagrams and the like) join the trace channel.
[[maybe_unused]] const bool g_platformSinkInstalled =
    (platform::SetDiagnosticSink(&PlatformDiagnostic), true);

}  // namespace

bool TraceEnabled(int level) {
  EnsureConfigured();
  return level >= g_level.load(std::memory_order_relaxed);
}

void TraceConfigure() {
  EnsureConfigured();
  std::lock_guard lock(g_mutex);
  ConfigureLocked();
}

void Trace(int level, const char* format, ...) {
  if (!TraceEnabled(level))
    return;
  va_list args;
  va_start(args, format);
  std::string text = platform::VFormat(format, args);
  va_end(args);
  platform::SYSTEMTIME now = platform::MsToSystemTime(platform::Clock::HostLocalNowMs());
  std::lock_guard lock(g_mutex);
  if (!g_file)
    return;
  std::fprintf(g_file, "%02u:%02u:%02u.%03u [%d] %d %s\n", now.wHour, now.wMinute, now.wSecond,
               now.wMilliseconds, static_cast<int>(gettid()), level, text.c_str());
  std::fflush(g_file);
}

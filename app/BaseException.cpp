#include "app/BaseException.h"

#include <cstdarg>

#include "app/RegistrySettings.h"
#include "app/Trace.h"
#include "platform/Led.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace {

// With diagnostics on, an internal error is also shown by the notification LED.
constexpr platform::UINT kDiagnosticLed = 1;
constexpr platform::DWORD kDiagnosticLedMs = 3000;

void SetDiagnosticLed(int state) {
  platform::NLED_SETTINGS_INFO settings;
  settings.LedNum = kDiagnosticLed;
  settings.OffOnBlink = state;
  platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &settings);
}

}  // namespace

CBaseException::CBaseException() = default;

CBaseException::CBaseException(const char* format, ...) {
  va_list args;
  va_start(args, format);
  message_ = platform::Utf8Truncate(platform::VFormat(format, args), kMaxMessageChars);
  va_end(args);
  Trace(TRACE_TRACE, "CBaseException::CBaseException(%s)", message_.c_str());
  if (CRegistrySettings::DebugInfo()) {
    // The constructing thread is held while the LED is on, so that the signal is seen.
    SetDiagnosticLed(platform::NLED_ON);
    platform::Sleep(kDiagnosticLedMs);
    SetDiagnosticLed(platform::NLED_OFF);
  }
}

CBaseException::CBaseException(const CBaseException& other)
    : std::exception(other), message_(other.message_) {}

CBaseException& CBaseException::operator=(const CBaseException& other) = default;

CBaseException::~CBaseException() {
  Trace(TRACE_TRACE, "CBaseException::~CBaseException(%s)", message_.c_str());
}

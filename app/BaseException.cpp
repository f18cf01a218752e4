#include "app/BaseException.h"

#include <cstdarg>

#include "app/Trace.h"
#include "platform/Text.h"

CBaseException::CBaseException() = default;

CBaseException::CBaseException(const char* format, ...) {
  va_list args;
  va_start(args, format);
  message_ = platform::Utf8Truncate(platform::VFormat(format, args), kMaxMessageChars);
  va_end(args);
  Trace(TRACE_TRACE, "CBaseException::CBaseException(%s)", message_.c_str());
}

CBaseException::CBaseException(const CBaseException& other)
    : std::exception(other), message_(other.message_) {}

CBaseException& CBaseException::operator=(const CBaseException& other) = default;

CBaseException::~CBaseException() {
  Trace(TRACE_TRACE, "CBaseException::~CBaseException(%s)", message_.c_str());
}

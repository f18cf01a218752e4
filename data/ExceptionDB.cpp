#include "data/ExceptionDB.h"

#include <cstdarg>

#include "platform/Text.h"

CExceptionDB::CExceptionDB(const std::string& text) : CBaseException("%s", text.c_str()) {}

CExceptionDB CExceptionDB::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = platform::VFormat(format, args);
  va_end(args);
  return CExceptionDB(text);
}

// Database failures. CExceptionDB carries the text of what went wrong with the profile
// database; CFindNotFoundDB is the failure of looking up a record by a key that is absent.
#pragma once

#include <string>

#include "app/BaseException.h"

class CExceptionDB : public CBaseException {
 public:
  // An exception with this text as its message (the text is not a format).
  explicit CExceptionDB(const std::string& text);
  // An exception with a printf-style formatted message.
  static CExceptionDB Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

class CFindNotFoundDB : public CExceptionDB {
 public:
  explicit CFindNotFoundDB(const std::string& text) : CExceptionDB(text) {}
};

// The base of the program's own exceptions. Fatal failures (database errors, internal errors)
// are thrown as CBaseException or one of its subclasses; each carries one message, which the
// top level shows to the user before the program ends.
#pragma once

#include <exception>
#include <string>

class CBaseException : public std::exception {
 public:
  // Maximum length of a formatted message, in characters.
  static constexpr std::size_t kMaxMessageChars = 199;

  // An exception with an empty message.
  CBaseException();
  // The message is formatted printf-style and limited to kMaxMessageChars characters. Pass
  // text that may contain '%' as an argument ("%s"), never as the format. With the diagnostic
  // flag "debug_info" on, notification LED 1 is also switched on for 3 s (this thread waits).
  explicit CBaseException(const char* format, ...) __attribute__((format(printf, 2, 3)));
  CBaseException(const CBaseException& other);
  CBaseException& operator=(const CBaseException& other);
  ~CBaseException() override;

  // A copy of the message.
  std::string GetText() const { return message_; }
  std::string GetMessage() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 protected:
  // For subclasses that build their message themselves.
  void SetMessage(const std::string& message) { message_ = message; }

 private:
  std::string message_;
};

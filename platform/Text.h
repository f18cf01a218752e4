// Text helpers shared by every layer: text is UTF-8 inside the program, length limits count
// Unicode characters, and a limit never cuts a character in half.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace platform {

// Number of Unicode characters (code points) in UTF-8 text. Invalid bytes count as one each.
std::size_t Utf8Length(std::string_view text);

// The longest prefix of `text` with at most `maxChars` characters.
std::string Utf8Truncate(std::string_view text, std::size_t maxChars);

// printf-style formatting into a std::string, then limited to `maxChars` characters.
std::string FormatLimited(std::size_t maxChars, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
std::string VFormat(const char* format, va_list args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// UTF-8 <-> UTF-16LE bytes (for files that other parties read in that encoding).
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// ASCII case folding, as the phone compares registry and class names.
std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace platform

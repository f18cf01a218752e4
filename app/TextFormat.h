// Formatting of translated texts. A translation is a format with "%s" conversions filled with
// the caller's strings in order; anything else in it is printed as typed. Because formats come
// from translation files, they are never handed to printf: a broken translation cannot read
// arguments that were not passed.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

// Replaces each "%s" (and "%d", "%i", "%u" for numbers passed as text) with the next argument,
// "%%" with "%", and limits the result to `maxChars` characters. Conversions beyond the
// arguments are left out.
std::string FormatText(const std::string& format, std::initializer_list<std::string> args,
                       std::size_t maxChars = 0);

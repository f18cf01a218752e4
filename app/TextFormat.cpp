#include "app/TextFormat.h"

#include <vector>

#include "platform/Text.h"

std::string FormatText(const std::string& format, std::initializer_list<std::string> args,
                       std::size_t maxChars) {
  std::vector<std::string> values(args);
  std::size_t next = 0;
  std::string out;
  out.reserve(format.size() + 32);
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out.push_back(c);
      continue;
    }
    // Skip flags, width and precision ("%02d", "%-10s").
    std::size_t j = i + 1;
    while (j < format.size() &&
           std::string("-+ #0123456789.l").find(format[j]) != std::string::npos) {
      ++j;
    }
    if (j >= format.size()) {
      out.append(format, i, std::string::npos);
      break;
    }
    char conv = format[j];
    if (conv == '%') {
      out.push_back('%');
    } else if (conv == 's' || conv == 'd' || conv == 'i' || conv == 'u') {
      if (next < values.size())
        out += values[next];
      ++next;
    } else {
      out.append(format, i, j - i + 1);
    }
    i = j;
  }
  return maxChars ? platform::Utf8Truncate(out, maxChars) : out;
}

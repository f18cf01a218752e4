#include "platform/Diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <string>

#include "platform/Text.h"

namespace platform {

namespace {

// Constant-initialised, so a sink installed by another file's static initialiser is kept.
constinit std::atomic<DiagnosticSink> g_sink{nullptr};

}  // namespace

void SetDiagnosticSink(DiagnosticSink sink) {
  g_sink.store(sink);
}

void Diagnostic(const char* format, ...) {
  DiagnosticSink sink = g_sink.load();
  if (!sink)
    return;
  va_list args;
  va_start(args, format);
  std::string line = VFormat(format, args);
  va_end(args);
  sink(line.c_str());
}

}  // namespace platform

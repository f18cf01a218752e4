// The trace channel: one printf-style function with a level, used by nearly every operation.
//
// Lines are tagged by the caller with the class and method ("CMgr::FireStatusChanged(%d)"); a
// "-" before the method name marks the exit trace ("CMgr::-FireStatusChanged(%d)"). Everything
// is discarded unless the environment switches the channel on:
//
//   TELVANE_TRACE=LEVEL          lines of LEVEL and above to standard error
//   TELVANE_TRACE=LEVEL:FILE     lines of LEVEL and above appended to FILE
//
// Levels: 0 trace, 1 debug, 2 info, 3 warning, 4 error, 5 fatal. Thread-safe.
#pragma once

enum TraceLevel {
  TRACE_TRACE = 0,
  TRACE_DEBUG = 1,
  TRACE_INFO = 2,
  TRACE_WARNING = 3,
  TRACE_ERROR = 4,
  TRACE_FATAL = 5
};

void Trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// True when a line of `level` would be written; lets callers skip costly arguments.
bool TraceEnabled(int level);

// Re-reads TELVANE_TRACE (for tests that switch the channel on or off).
void TraceConfigure();

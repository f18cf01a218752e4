// A stopwatch over the phone's high-resolution performance counter, for timing commands and
// painting in trace lines. Not thread-safe: one owner at a time.
#pragma once

#include <cstdint>

class CStopwatch {
 public:
  CStopwatch();

  // Records the counter as the start reading and forgets any earlier stop reading.
  void Start();
  // Records the counter as the stop reading.
  void Stop();
  // Forgets both readings.
  void Reset();
  // Seconds from the start reading to the stop reading, or to now while running; 0 when there
  // is no counter or no start reading.
  float Elapsed() const;

 private:
  std::int64_t frequency_ = 0;
  std::int64_t start_ = 0;
  std::int64_t stop_ = 0;
  bool started_ = false;
  bool stopped_ = false;
};

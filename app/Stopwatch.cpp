#include "app/Stopwatch.h"

#include "platform/Time.h"

CStopwatch::CStopwatch() : frequency_(platform::QueryPerformanceFrequency()) {}

void CStopwatch::Start() {
  start_ = platform::QueryPerformanceCounter();
  started_ = true;
  stopped_ = false;
}

void CStopwatch::Stop() {
  stop_ = platform::QueryPerformanceCounter();
  stopped_ = true;
}

void CStopwatch::Reset() {
  start_ = stop_ = 0;
  started_ = stopped_ = false;
}

float CStopwatch::Elapsed() const {
  if (frequency_ <= 0 || !started_)
    return 0.0f;
  std::int64_t end = stopped_ ? stop_ : platform::QueryPerformanceCounter();
  return static_cast<float>(static_cast<double>(end - start_) / static_cast<double>(frequency_));
}

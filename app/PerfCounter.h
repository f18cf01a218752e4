// A process-wide performance counter: how often something ran, and its total and longest time.
// The program traces these at exit, after the objects that fed them are gone, so the counters
// live on their own. Thread-safe.
#pragma once

#include <algorithm>
#include <mutex>

class CPerfCounter {
 public:
  struct Reading {
    int count = 0;
    double totalMs = 0;
    double maxMs = 0;
  };

  void Add(double ms) {
    std::lock_guard lock(mutex_);
    ++reading_.count;
    reading_.totalMs += ms;
    reading_.maxMs = std::max(reading_.maxMs, ms);
  }
  Reading Read() {
    std::lock_guard lock(mutex_);
    return reading_;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    reading_ = {};
  }

 private:
  std::mutex mutex_;
  Reading reading_;
};

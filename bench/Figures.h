// The figures every benchmark prints: the middle and the largest of its measurements, and the
// median time of single calls. Header-only and free of the program's layers, so that the
// home-screen item's benchmark, which links the platform layer and Qt only, shares it too.
#pragma once

#include <algorithm>
#include <chrono>
#include <type_traits>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The middle value, 0 for none.
inline double Median(std::vector<double> values) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The largest value, 0 for none.
inline double Max(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// The median time of `calls` single calls, in microseconds. `call` takes the call's index or
// nothing.
template <typename F>
double MedianCallUs(int calls, F&& call) {
  std::vector<double> us;
  us.reserve(calls);
  for (int i = 0; i < calls; ++i) {
    auto start = Clock::now();
    if constexpr (std::is_invocable_v<F&, int>)
      call(i);
    else
      call();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return Median(std::move(us));
}

}  // namespace bench

// The tests' one way to wait for something another thread or process makes happen.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Polls `pred` every `stepMs` until it holds or `timeoutMs` passed; true when it held. The limit
// only bounds a failing test: a passing one returns as soon as the condition holds.
template <class Pred>
bool WaitUntil(Pred&& pred, int timeoutMs = 5000, int stepMs = 5) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (pred())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
  }
  return pred();
}

}  // namespace testsupport

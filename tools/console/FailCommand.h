// fail: makes the next N operations of one simulated service fail, to test error paths.
//
// Each service that supports it registers a failure kind from its own command file:
//
//   static FailureKind btRead("bt-read", "Bluetooth mode reads", SetCount, PendingCount);
//
// `fail` lists the kinds with the failures still pending, `fail KIND` prints the pending count,
// `fail KIND N` makes the next N operations fail (0 ends a pending series).
#pragma once

#include <functional>
#include <map>
#include <string>

namespace console {

struct Failure {
  std::string what;
  std::function<void(int count)> set;
  std::function<int()> pending;
};

std::map<std::string, Failure>& Failures();

struct FailureKind {
  FailureKind(std::string name, std::string what, std::function<void(int count)> set,
              std::function<int()> pending);
};

}  // namespace console

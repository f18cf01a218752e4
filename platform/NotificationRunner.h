// The notification runner: one per device. It sleeps until the next due entry of the
// notification database, removes it and starts the program with its arguments as a new
// process, as the phone does. It wakes at once when the database or the device clock changes.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Types.h"

namespace platform {

class Device;

class NotificationRunner {
 public:
  // Starts a program; returns false when it could not be started.
  using Launcher = std::function<bool(const std::string& app, const std::string& args)>;

  // The default launcher starts a detached process (SpawnDetached).
  explicit NotificationRunner(Launcher launcher = {});
  ~NotificationRunner();

  // Fires every entry due at or before `nowMs` (device local milliseconds), oldest first. An
  // entry is removed before its program starts, so it never fires twice, even with two runners.
  // Returns how many programs were started.
  int RunDue(std::int64_t nowMs);

  // Claims the device's runner role (false when another runner already serves this device),
  // then fires due entries until Stop(); with `once`, fires what is due now and returns.
  bool Serve(bool once);
  void Stop();
  void Wake();

  // True when a runner process serves the device.
  static bool IsServing(Device& device);

 private:
  Launcher launcher_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stop_ = false;
  int lockFd_ = -1;
};

}  // namespace platform

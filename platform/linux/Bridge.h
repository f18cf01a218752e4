// Follows the machine's phone services on the system bus and mirrors them into the device
// (LinuxPhone.h): a signal of ModemManager, BlueZ, NetworkManager or UPower, or one of them
// coming onto the bus or leaving it, makes the bridge read that service again. The device's
// notification runner runs one bridge while it serves a device on the Linux backend; a second
// one (a test, another process) is harmless, since only changes are written and announced.
//
// Threads: Start and Stop from one thread. Signals arrive on the bus connection's own thread and
// only mark the service; a worker thread of the bridge reads and mirrors it.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::linuxphone {

class Bridge {
 public:
  Bridge() = default;
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Connects, subscribes and mirrors every service once. False (and nothing running) when the
  // system bus cannot be reached.
  bool Start();
  // Returns after the worker finished its current read; no mirror write happens afterwards.
  void Stop();

 private:
  enum Service : unsigned {
    kModem = 1,
    kBluetooth = 2,
    kWifi = 4,
    kBattery = 8,
    kConnections = 16,
    kAll = 31
  };

  void Mark(unsigned services);
  void Run();

  std::unique_ptr<sdbus::IConnection> bus_;
  std::vector<sdbus::Slot> matches_;
  std::mutex mutex_;  // guards dirty_ and stop_
  std::condition_variable wake_;
  unsigned dirty_ = 0;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace platform::linuxphone

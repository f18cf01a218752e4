#include "platform/linux/Bridge.h"

#include "platform/Diagnostics.h"
#include "platform/linux/LinuxPhone.h"
#include "platform/linux/SystemBus.h"

namespace platform::linuxphone {

Bridge::~Bridge() {
  Stop();
}

bool Bridge::Start() {
  if (worker_.joinable())
    return true;
  struct Watched {
    const char* service;
    unsigned mark;
  };
  const Watched watched[] = {{kMMService, kModem},
                             {kBluezService, kBluetooth},
                             {kNMService, kWifi | kConnections},
                             {kUPowerService, kBattery}};
  try {
    bus_ = sdbus::createSystemBusConnection();
    for (const Watched& w : watched) {
      // A match on a well-known sender follows whichever connection owns the name.
      matches_.push_back(bus_->addMatch(std::string("type='signal',sender='") + w.service + "'",
                                        [this, mark = w.mark](sdbus::Message&) { Mark(mark); }));
    }
    matches_.push_back(
        bus_->addMatch("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'",
                       [this, watched](sdbus::Message& message) {
                         std::string name;
                         message >> name;
                         for (const Watched& w : watched) {
                           if (name == w.service)
                             Mark(w.mark);
                         }
                       }));
    bus_->enterEventLoopAsync();
  } catch (const sdbus::Error& e) {
    Diagnostic("linux phone bridge: %s", e.what());
    matches_.clear();
    bus_.reset();
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
    dirty_ = kAll;
  }
  worker_ = std::thread([this] { Run(); });
  return true;
}

void Bridge::Stop() {
  if (bus_) {
    bus_->leaveEventLoop();
    matches_.clear();
  }
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable())
    worker_.join();
  bus_.reset();
}

void Bridge::Mark(unsigned services) {
  {
    std::lock_guard lock(mutex_);
    dirty_ |= services;
  }
  wake_.notify_one();
}

void Bridge::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || dirty_ != 0; });
    if (stop_)
      return;
    unsigned dirty = dirty_;
    dirty_ = 0;
    lock.unlock();
    try {
      if (dirty & kModem)
        SyncModem();
      if (dirty & kBluetooth)
        SyncBluetooth();
      if (dirty & kWifi)
        SyncWifi();
      if (dirty & kConnections)
        SyncConnections();
      if (dirty & kBattery)
        SyncBattery();
    } catch (const std::exception& e) {
      // A store that is busy or gone costs this round; the next signal reads again.
      Diagnostic("linux phone bridge: %s", e.what());
    }
    lock.lock();
  }
}

}  // namespace platform::linuxphone

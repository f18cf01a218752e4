#include "platform/HardwareEvents.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Device.h"
#include "platform/Endpoint.h"

namespace platform {

namespace {

struct Subscription {
  std::string event;
  std::shared_ptr<HardwareEventCallback> callback;
};

std::mutex g_mutex;
std::map<int, Subscription> g_subscriptions;
int g_next = 1;
// The endpoint thread while it calls subscribers, so that an unsubscribe can wait for it.
std::condition_variable g_delivered;
bool g_delivering = false;
std::thread::id g_deliveryThread;
constexpr auto kDeliveryWait = std::chrono::seconds(5);

void OnPacket(const std::vector<std::uint8_t>& payload) {
  Unpacker in(payload);
  std::string event = in.Str();
  std::string data = in.Str();
  if (!in.Ok())
    return;
  std::vector<int> ids;
  {
    std::lock_guard lock(g_mutex);
    for (const auto& [id, s] : g_subscriptions) {
      if (s.event == event)
        ids.push_back(id);
    }
    g_deliveryThread = std::this_thread::get_id();
    g_delivering = true;
  }
  for (int id : ids) {
    std::shared_ptr<HardwareEventCallback> callback;
    {
      // A subscription ended since the event arrived is skipped.
      std::lock_guard lock(g_mutex);
      auto it = g_subscriptions.find(id);
      if (it == g_subscriptions.end())
        continue;
      callback = it->second.callback;
    }
    try {
      (*callback)(event, data);
    } catch (...) {
      // A failing subscriber must not stop the others nor the endpoint thread.
    }
  }
  {
    std::lock_guard lock(g_mutex);
    g_delivering = false;
  }
  g_delivered.notify_all();
}

}  // namespace

int SubscribeHardwareEvent(const std::string& event, HardwareEventCallback callback) {
  std::lock_guard lock(g_mutex);
  int id = g_next++;
  g_subscriptions[id] = {event, std::make_shared<HardwareEventCallback>(std::move(callback))};
  return id;
}

void UnsubscribeHardwareEvent(int subscription) {
  std::unique_lock lock(g_mutex);
  g_subscriptions.erase(subscription);
  // Once this returns the callback runs no more: a delivery under way on the endpoint thread is
  // waited for, unless the subscriber ends its subscription from its own callback.
  if (g_delivering && g_deliveryThread != std::this_thread::get_id())
    g_delivered.wait_for(lock, kDeliveryWait, [] { return !g_delivering; });
}

int BroadcastHardwareEvent(const std::string& event, const std::string& payload) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  std::vector<int> pids;
  {
    auto st = dev->store().Prepare("SELECT pid FROM endpoints ORDER BY pid");
    while (st.Step())
      pids.push_back(static_cast<int>(st.Int(0)));
  }
  Packer packer;
  packer.Str(event).Str(payload);
  int reached = 0;
  for (int pid : pids) {
    if (dev->endpoint().Send(pid, PacketKind::kHardwareEvent, packer.Data()))
      ++reached;
  }
  return reached;
}

bool SendHardwareEvent(int pid, const std::string& event, const std::string& payload) {
  Device* dev = Device::Current();
  if (!dev || pid <= 0)
    return false;
  Packer packer;
  packer.Str(event).Str(payload);
  return dev->endpoint().Send(pid, PacketKind::kHardwareEvent, packer.Data());
}

void InstallHardwareEventHandlers(Device& device) {
  device.endpoint().SetHandler(PacketKind::kHardwareEvent, OnPacket);
}

void ResetHardwareEventSubscriptions() {
  std::lock_guard lock(g_mutex);
  g_subscriptions.clear();
}

}  // namespace platform

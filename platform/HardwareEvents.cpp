#include "platform/HardwareEvents.h"

#include <map>
#include <memory>
#include <mutex>
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

void OnPacket(const std::vector<std::uint8_t>& payload) {
  Unpacker in(payload);
  std::string event = in.Str();
  std::string data = in.Str();
  if (!in.Ok())
    return;
  std::vector<std::shared_ptr<HardwareEventCallback>> callbacks;
  {
    std::lock_guard lock(g_mutex);
    for (const auto& [id, s] : g_subscriptions) {
      if (s.event == event)
        callbacks.push_back(s.callback);
    }
  }
  for (const auto& cb : callbacks)
    (*cb)(event, data);
}

}  // namespace

int SubscribeHardwareEvent(const std::string& event, HardwareEventCallback callback) {
  std::lock_guard lock(g_mutex);
  int id = g_next++;
  g_subscriptions[id] = {event, std::make_shared<HardwareEventCallback>(std::move(callback))};
  return id;
}

void UnsubscribeHardwareEvent(int subscription) {
  std::lock_guard lock(g_mutex);
  g_subscriptions.erase(subscription);
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

void InstallHardwareEventHandlers(Device& device) {
  device.endpoint().SetHandler(PacketKind::kHardwareEvent, OnPacket);
}

void ResetHardwareEventSubscriptions() {
  std::lock_guard lock(g_mutex);
  g_subscriptions.clear();
}

}  // namespace platform

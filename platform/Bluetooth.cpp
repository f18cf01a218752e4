// The simulated Bluetooth radio.
#include "platform/Bluetooth.h"

#include <map>
#include <mutex>

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Registry.h"
#include "platform/Store.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

// Broadcast to every process of the device when the mode changed; the payload is the new mode.
constexpr const char* kModeChangedEvent = "bluetooth_mode";

constexpr DWORD kStateOn = 0x1;
constexpr DWORD kStateDiscoverable = 0x2;

struct Request {
  HMSGQUEUE writer = 0;
  int subscription = 0;
};

std::mutex g_requestsMutex;
std::map<HBTNOTIFY, Request> g_requests;
HBTNOTIFY g_nextRequest = 1;

DWORD ReadMode(Device& dev) {
  auto name = dev.GetState(kBluetoothModeState);
  if (!name)
    return BTH_POWER_OFF;
  return ParseBluetoothMode(*name).value_or(BTH_POWER_OFF);
}

DWORD PublishedState(DWORD mode) {
  switch (mode) {
    case BTH_CONNECTABLE:
      return kStateOn;
    case BTH_DISCOVERABLE:
      return kStateOn | kStateDiscoverable;
    default:
      return 0;
  }
}

}  // namespace

const char* BluetoothModeName(DWORD mode) {
  switch (mode) {
    case BTH_POWER_OFF:
      return "off";
    case BTH_CONNECTABLE:
      return "connectable";
    case BTH_DISCOVERABLE:
      return "discoverable";
    default:
      return "unknown";
  }
}

std::optional<DWORD> ParseBluetoothMode(const std::string& name) {
  for (DWORD mode : {BTH_POWER_OFF, BTH_CONNECTABLE, BTH_DISCOVERABLE}) {
    if (name == BluetoothModeName(mode))
      return mode;
  }
  return std::nullopt;
}

int BthGetMode(DWORD* mode) {
  Device* dev = Device::Current();
  if (!dev || !mode)
    return ERROR_GEN_FAILURE;
  bool fail = false;
  DWORD current = BTH_POWER_OFF;
  // A phone without an adapter (the Linux backend records it) has no mode to read.
  bool absentFails = backend::IsLinux();
  try {
    dev->store().Transaction([&] {
      std::int64_t pending = dev->GetStateInt(kBluetoothReadFailuresState, 0);
      if (pending > 0) {
        dev->SetStateInt(kBluetoothReadFailuresState, pending - 1);
        fail = true;
        return;
      }
      if (absentFails && dev->GetState(kBluetoothModeState) == bluetooth::detail::kAbsent) {
        fail = true;
        return;
      }
      current = ReadMode(*dev);
    });
  } catch (const StoreError&) {
    return ERROR_GEN_FAILURE;
  }
  if (fail)
    return ERROR_GEN_FAILURE;
  *mode = current;
  return 0;
}

int BthSetMode(DWORD mode) {
  if (mode > BTH_DISCOVERABLE)
    return ERROR_INVALID_PARAMETER;
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux())
    return linuxphone::SetBluetoothMode(mode);
#endif
  return bluetooth::detail::StoreMode(mode) ? 0 : ERROR_GEN_FAILURE;
}

namespace bluetooth::detail {

bool StoreMode(std::optional<DWORD> mode) {
  Device* dev = Device::Current();
  if (!dev)
    return false;
  std::string word = mode ? BluetoothModeName(*mode) : kAbsent;
  bool changed = false;
  try {
    dev->store().Transaction([&] {
      changed = dev->GetState(kBluetoothModeState) != word;
      dev->SetState(kBluetoothModeState, word);
    });
  } catch (const StoreError&) {
    return false;
  }
  DWORD current = mode.value_or(BTH_POWER_OFF);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Bluetooth",
                   PublishedState(current));
  if (changed)
    BroadcastHardwareEvent(kModeChangedEvent, std::to_string(current));
  return true;
}

}  // namespace bluetooth::detail

HBTNOTIFY RequestBluetoothNotifications(DWORD classes, HMSGQUEUE queue) {
  if (!Device::Current() || !(classes & BTE_CLASS_STACK))
    return 0;
  HMSGQUEUE writer = OpenMsgQueue(queue, 0);
  if (!writer)
    return 0;
  int subscription = SubscribeHardwareEvent(
      kModeChangedEvent, [writer](const std::string&, const std::string& payload) {
        BluetoothEvent event;
        event.eventClass = BTE_CLASS_STACK;
        event.eventId = BTE_STACK_MODE_CHANGED;
        try {
          event.mode = static_cast<DWORD>(std::stoul(payload));
        } catch (const std::exception&) {
          event.mode = BTH_POWER_OFF;
        }
        // A request that ended meanwhile has closed the writer: the write then fails harmlessly.
        WriteMsgQueue(writer, &event, sizeof event, 0);
      });
  std::lock_guard lock(g_requestsMutex);
  HBTNOTIFY handle = g_nextRequest++;
  g_requests[handle] = Request{writer, subscription};
  return handle;
}

BOOL StopBluetoothNotifications(HBTNOTIFY handle) {
  Request request;
  {
    std::lock_guard lock(g_requestsMutex);
    auto it = g_requests.find(handle);
    if (it == g_requests.end())
      return 0;
    request = it->second;
    g_requests.erase(it);
  }
  UnsubscribeHardwareEvent(request.subscription);
  CloseMsgQueue(request.writer);
  return 1;
}

void FailNextBluetoothReads(int count) {
  if (Device* dev = Device::Current())
    dev->SetStateInt(kBluetoothReadFailuresState, count < 0 ? 0 : count);
}

int PendingBluetoothReadFailures() {
  Device* dev = Device::Current();
  return dev ? static_cast<int>(dev->GetStateInt(kBluetoothReadFailuresState, 0)) : 0;
}

}  // namespace platform

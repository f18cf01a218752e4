#include "platform/Ril.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Registry.h"

namespace platform {

namespace {

constexpr const char* kPhoneStateKey = "System\\State\\Phone";
constexpr const char* kPhoneStatusValue = "Status";
constexpr const char* kSignalStrengthValue = "Signal Strength";
constexpr DWORD kRadioOffBit = 0x10;

struct Client {
  HRIL handle = 0;
  RILRESULTCALLBACK result;
  RILNOTIFYCALLBACK notify;
  DWORD classes = 0;
  DWORD param = 0;
};

// The process's RIL: its clients, its thread and the task queue the thread works through. It
// exists while at least one handle is open. Event callbacks from other threads hold it only
// weakly, so that one arriving after it was stopped does nothing.
class Service : public std::enable_shared_from_this<Service> {
 public:
  void Start() {
    std::weak_ptr<Service> weak = weak_from_this();
    locationSub_ = SubscribeHardwareEvent(ril::kLocationEvent, [weak](auto&, auto&) {
      if (auto self = weak.lock())
        self->Post([s = self.get()] { s->NotifyLocation(); });
    });
    signalSub_ = SubscribeHardwareEvent(ril::kSignalEvent, [weak](auto&, auto&) {
      if (auto self = weak.lock())
        self->Post([s = self.get()] { s->NotifySignal(); });
    });
    // A radio that is switched on registers on the network and tells where it is.
    NOTIFICATIONCONDITION condition;
    condition.dwMask = kRadioOffBit;
    RegistryNotifyCallback(
        HKEY_LOCAL_MACHINE, kPhoneStateKey, kPhoneStatusValue,
        [weak](HREGNOTIFY, DWORD, const BYTE* data, UINT size) {
          auto self = weak.lock();
          if (!self)
            return;
          DWORD status = 0;
          if (data && size >= 4)
            std::copy(data, data + 4, reinterpret_cast<BYTE*>(&status));
          if (status & kRadioOffBit)
            return;
          self->Post([s = self.get()] {
            s->NotifyLocation();
            s->NotifySignal();
          });
        },
        0, &condition, &radioWatch_);
    // The thread keeps the service alive until it has returned, also when it was detached.
    thread_ = std::thread([self = shared_from_this()] { self->Run(); });
  }

  // Stops the thread (after the task it runs) and the event subscriptions.
  void Stop() {
    UnsubscribeHardwareEvent(locationSub_);
    UnsubscribeHardwareEvent(signalSub_);
    if (radioWatch_)
      RegistryCloseNotification(radioWatch_);
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();  // the last handle was closed from one of its own callbacks
    else if (thread_.joinable())
      thread_.join();
  }

  void Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      if (stop_)
        return;
      tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
  }

  HRIL AddClient(std::shared_ptr<Client> client) {
    std::lock_guard lock(mutex_);
    client->handle = nextHandle_++;
    clients_[client->handle] = client;
    return client->handle;
  }

  // Removes a client; false when it was not open.
  bool RemoveClient(HRIL handle) {
    std::lock_guard lock(mutex_);
    return clients_.erase(handle) != 0;
  }

  // Waits until a callback that runs on the RIL thread has returned (unless called from it).
  void WaitForCallbacks() {
    if (std::this_thread::get_id() != thread_.get_id()) {
      std::lock_guard wait(dispatchMutex_);
    }
  }

  bool Empty() {
    std::lock_guard lock(mutex_);
    return clients_.empty();
  }

  std::shared_ptr<Client> Find(HRIL handle) {
    std::lock_guard lock(mutex_);
    auto it = clients_.find(handle);
    return it == clients_.end() ? nullptr : it->second;
  }

  HRESULT NextRequestId() {
    std::lock_guard lock(mutex_);
    HRESULT id = nextRequest_++;
    if (nextRequest_ <= 0)
      nextRequest_ = 1;
    return id;
  }

  // Answers a request of `handle`, if it is still open.
  void Answer(HRIL handle, DWORD code, HRESULT id, const void* data, std::size_t size) {
    if (auto client = Find(handle))
      client->result(code, id, data, size, client->param);
  }

  void NotifyLocation() {
    if (!ril::RadioIsOn())
      return;
    ril::ServingCell cell = ril::GetServingCell();
    RILLOCATIONINFO info{sizeof(RILLOCATIONINFO), cell.lac, cell.cellId};
    Notify(RIL_NOTIFY_LOCATIONUPDATE, &info, sizeof info);
  }

  void NotifySignal() {
    if (!ril::RadioIsOn())
      return;
    RILSIGNALQUALITY quality = Quality();
    Notify(RIL_NOTIFY_SIGNALQUALITY, &quality, sizeof quality);
  }

  static RILSIGNALQUALITY Quality() {
    ril::Signal s = ril::GetSignal();
    return RILSIGNALQUALITY{sizeof(RILSIGNALQUALITY), s.params, s.strength, s.minimum, s.maximum};
  }

 private:
  void Notify(DWORD code, const void* data, std::size_t size) {
    std::vector<std::shared_ptr<Client>> clients;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [h, c] : clients_) {
        if (c->classes & code & RIL_NCLASS_MASK)
          clients.push_back(c);
      }
    }
    for (const auto& c : clients) {
      // A client closed by an earlier callback of this loop gets nothing more.
      if (Find(c->handle))
        c->notify(code, data, size, c->param);
    }
  }

  void Run() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
      if (stop_)
        return;
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      {
        std::lock_guard dispatch(dispatchMutex_);
        task();
      }
      lock.lock();
    }
  }

  std::mutex mutex_;  // guards everything below but the thread and the subscriptions
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::map<HRIL, std::shared_ptr<Client>> clients_;
  HRIL nextHandle_ = 1;
  HRESULT nextRequest_ = 1;
  bool stop_ = false;
  // Held while a task (and so a callback) runs.
  std::mutex dispatchMutex_;
  std::thread thread_;
  int locationSub_ = 0;
  int signalSub_ = 0;
  HREGNOTIFY radioWatch_ = 0;
};

// Serialises opening and closing, which start and stop the service.
std::mutex g_lifecycleMutex;
std::shared_ptr<Service> g_service;

std::shared_ptr<Service> CurrentService() {
  std::lock_guard lock(g_lifecycleMutex);
  return g_service;
}

DWORD StateDword(Device& dev, const char* name) {
  return static_cast<DWORD>(dev.GetStateInt(name, 0));
}

// The signal as the phone shows it in its status values: strength within the limits, as a
// percentage.
DWORD PublishedPercent(const ril::Signal& s) {
  if (s.maximum <= s.minimum)
    return 0;
  long long percent = 100LL * (s.strength - s.minimum) / (s.maximum - s.minimum);
  return static_cast<DWORD>(std::clamp(percent, 0LL, 100LL));
}

}  // namespace

HRESULT RIL_Initialize(DWORD index, RILRESULTCALLBACK resultCallback,
                       RILNOTIFYCALLBACK notifyCallback, DWORD notificationClasses, DWORD param,
                       HRIL* out) {
  if (index != 1 || !resultCallback || !notifyCallback || !out)
    return E_INVALIDARG;
  if (!Device::Current())
    return E_FAIL;
  auto client = std::make_shared<Client>();
  client->result = std::move(resultCallback);
  client->notify = std::move(notifyCallback);
  client->classes = notificationClasses;
  client->param = param;
  std::lock_guard lock(g_lifecycleMutex);
  if (!g_service) {
    g_service = std::make_shared<Service>();
    g_service->Start();
  }
  *out = g_service->AddClient(client);
  return S_OK;
}

HRESULT RIL_Deinitialize(HRIL handle) {
  std::shared_ptr<Service> service;
  bool last = false;
  {
    std::lock_guard lock(g_lifecycleMutex);
    if (!g_service || !g_service->RemoveClient(handle))
      return E_INVALIDARG;
    service = g_service;
    last = g_service->Empty();
    if (last)
      g_service.reset();
  }
  // Waited for without the lifecycle lock: a callback may be making a request meanwhile.
  if (last)
    service->Stop();
  else
    service->WaitForCallbacks();
  return S_OK;
}

HRESULT RIL_GetCellTowerInfo(HRIL handle) {
  std::shared_ptr<Service> service = CurrentService();
  if (!service || !service->Find(handle))
    return E_INVALIDARG;
  HRESULT id = service->NextRequestId();
  service->Post([s = service.get(), handle, id] {
    if (!ril::RadioIsOn()) {
      s->Answer(handle, RIL_RESULT_RADIOOFF, id, nullptr, 0);
      return;
    }
    ril::ServingCell cell = ril::GetServingCell();
    RILCELLTOWERINFO info{};
    info.cbSize = sizeof info;
    info.dwParams = 0x3F;
    info.dwLocationAreaCode = cell.lac;
    info.dwCellID = cell.cellId;
    s->Answer(handle, RIL_RESULT_OK, id, &info, sizeof info);
  });
  return id;
}

HRESULT RIL_GetSignalQuality(HRIL handle) {
  std::shared_ptr<Service> service = CurrentService();
  if (!service || !service->Find(handle))
    return E_INVALIDARG;
  HRESULT id = service->NextRequestId();
  service->Post([s = service.get(), handle, id] {
    if (!ril::RadioIsOn()) {
      s->Answer(handle, RIL_RESULT_RADIOOFF, id, nullptr, 0);
      return;
    }
    RILSIGNALQUALITY quality = Service::Quality();
    s->Answer(handle, RIL_RESULT_OK, id, &quality, sizeof quality);
  });
  return id;
}

namespace ril {

ServingCell GetServingCell() {
  ServingCell cell;
  // Both values in one transaction: a move written between two separate reads would give a
  // cell of one place with the area of the other.
  if (Device* dev = Device::Current()) {
    dev->store().Transaction([&] {
      cell.cellId = StateDword(*dev, kCellIdState);
      cell.lac = StateDword(*dev, kLacState);
    });
  }
  return cell;
}

Signal GetSignal() {
  Signal s;
  if (Device* dev = Device::Current()) {
    dev->store().Transaction([&] {
      s.strength = static_cast<int>(dev->GetStateInt(kSignalStrengthState, kDefaultSignalMin));
      s.minimum = static_cast<int>(dev->GetStateInt(kSignalMinState, kDefaultSignalMin));
      s.maximum = static_cast<int>(dev->GetStateInt(kSignalMaxState, kDefaultSignalMax));
      s.params = static_cast<DWORD>(dev->GetStateInt(kSignalParamsState, RIL_PARAM_SQ_ALL));
    });
  }
  return s;
}

bool SetServingCell(DWORD cellId, DWORD lac, bool announce) {
  Device* dev = Device::Current();
  if (!dev)
    return false;
  dev->store().Transaction([&] {
    dev->SetStateInt(kCellIdState, cellId);
    dev->SetStateInt(kLacState, lac);
  });
  // A radio that is off is not registered and announces nothing; switched on, it tells the
  // current cell anyway.
  if (announce && RadioIsOn())
    BroadcastHardwareEvent(kLocationEvent, std::to_string(cellId) + " " + std::to_string(lac));
  return true;
}

bool SetSignal(const Signal& signal) {
  Device* dev = Device::Current();
  if (!dev)
    return false;
  dev->store().Transaction([&] {
    dev->SetStateInt(kSignalStrengthState, signal.strength);
    dev->SetStateInt(kSignalMinState, signal.minimum);
    dev->SetStateInt(kSignalMaxState, signal.maximum);
    dev->SetStateInt(kSignalParamsState, signal.params);
  });
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, kPhoneStateKey, kSignalStrengthValue,
                   PublishedPercent(signal));
  if (RadioIsOn())
    BroadcastHardwareEvent(kSignalEvent, std::to_string(signal.strength));
  return true;
}

bool RadioIsOn() {
  DWORD status = 0;
  if (RegistryGetDWORD(HKEY_LOCAL_MACHINE, kPhoneStateKey, kPhoneStatusValue, &status) != S_OK)
    return true;
  return (status & kRadioOffBit) == 0;
}

}  // namespace ril

}  // namespace platform

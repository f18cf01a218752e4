#include "managers/WifiOssVcsMgr.h"

#include <chrono>

#include "app/Texts.h"
#include "app/Trace.h"

namespace {

// The service binding is process-wide, as a library loaded once would be.
std::mutex g_serviceMutex;
platform::WirelessDeviceService g_service;

platform::WirelessDeviceService Service() {
  std::lock_guard lock(g_serviceMutex);
  return g_service;
}

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

}  // namespace

bool CWifiOssVcsMgr::ListLock::TryLockFor(int ms) {
  std::unique_lock lock(mutex_);
  if (!free_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !held_; }))
    return false;
  held_ = true;
  return true;
}

void CWifiOssVcsMgr::ListLock::Unlock() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  free_.notify_one();
}

CWifiOssVcsMgr::CWifiOssVcsMgr() = default;

CWifiOssVcsMgr::~CWifiOssVcsMgr() {
  Detach();
  std::lock_guard lock(g_serviceMutex);
  g_service = platform::WirelessDeviceService{};
}

bool CWifiOssVcsMgr::IsServiceBound() {
  platform::WirelessDeviceService service = Service();
  return service.getWirelessDevices && service.changeRadioState && service.freeDeviceList;
}

void CWifiOssVcsMgr::Initialize() {
  Trace(TRACE_TRACE, "CWifiOssVcsMgr::Initialize()");
  if (!BeginInitialize())
    return;
  platform::WirelessDeviceService service;
  if (!platform::LoadWirelessDeviceService(&service)) {
    Trace(TRACE_WARNING, "CWifiOssVcsMgr::Initialize() no wireless-device service");
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  {
    std::lock_guard lock(g_serviceMutex);
    g_service = service;
  }
  if (!IsServiceBound()) {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  FindDeviceName();
  WatchAndRefresh();
}

int CWifiOssVcsMgr::GetDeviceStates(int* wifi, int* phone, int* bluetooth) {
  platform::WirelessDeviceService service = Service();
  if (!service.getWirelessDevices)
    return 0;
  bool locked = listLock_.TryLockFor(kListLockMs);
  if (!locked)
    Trace(TRACE_WARNING, "CWifiOssVcsMgr::GetDeviceStates() device list lock timed out");
  platform::WirelessDevice* list = nullptr;
  if (service.getWirelessDevices(&list, 0) != 0) {
    if (locked)
      listLock_.Unlock();
    return -1;
  }
  for (platform::WirelessDevice* d = list; d; d = d->next) {
    int state = static_cast<int>(d->state);
    switch (d->type) {
      case platform::WIRELESS_TYPE_WIFI:
        *wifi = state;
        break;
      case platform::WIRELESS_TYPE_PHONE:
        *phone = state;
        break;
      case platform::WIRELESS_TYPE_BLUETOOTH:
        *bluetooth = state;
        break;
      default:
        break;
    }
  }
  if (service.freeDeviceList)
    service.freeDeviceList(list);
  if (locked)
    listLock_.Unlock();
  return 0;
}

int CWifiOssVcsMgr::SetDeviceState(platform::DWORD type, platform::DWORD state) {
  platform::WirelessDeviceService service = Service();
  if (!service.getWirelessDevices || !service.changeRadioState)
    return -1;
  bool locked = listLock_.TryLockFor(kListLockMs);
  if (!locked)
    Trace(TRACE_WARNING, "CWifiOssVcsMgr::SetDeviceState() device list lock timed out");
  platform::WirelessDevice* list = nullptr;
  if (service.getWirelessDevices(&list, 0) != 0) {
    if (locked)
      listLock_.Unlock();
    return -1;
  }
  platform::LONG last = 0;
  for (platform::WirelessDevice* d = list; d; d = d->next) {
    if (d->type == type)
      last = service.changeRadioState(d, state, kSaveAction);
  }
  if (list && service.freeDeviceList)
    service.freeDeviceList(list);
  if (locked)
    listLock_.Unlock();
  return last == 0 ? 0 : -2;
}

void CWifiOssVcsMgr::RefreshStatusChild(int force) {
  if (!IsServiceBound())
    return;
  int wifi = 0, phone = 0, bluetooth = 0;
  if (GetDeviceStates(&wifi, &phone, &bluetooth) != 0)
    return;
  SetStatusValue(wifi == 1 ? WIFI_STATUS_ON : WIFI_STATUS_OFF);
}

void CWifiOssVcsMgr::ForceStatusChild(int status, int minutes) {
  Trace(TRACE_DEBUG, "CWifiOssVcsMgr::ForceStatusChild(%d", status);
  int wifi = 0, phone = 0, bluetooth = 0;
  GetDeviceStates(&wifi, &phone, &bluetooth);
  SetDeviceState(platform::WIRELESS_TYPE_WIFI, status == WIFI_STATUS_ON
                                                   ? platform::WIRELESS_STATE_ON
                                                   : platform::WIRELESS_STATE_OFF);
  GetDeviceStates(&wifi, &phone, &bluetooth);
}

void CWifiOssVcsMgr::SwapStatus() {
  int target = GetStatus() == WIFI_STATUS_OFF ? WIFI_STATUS_ON : WIFI_STATUS_OFF;
  Trace(TRACE_DEBUG, "CWifiOssVcsMgr::SwapStatus(%d", target);
  ForceStatus(target, 0, 0, 0);
}

std::string CWifiOssVcsMgr::GetName() {
  return Text("EVENT_LOG_MGR_WIFI_NAME");
}

std::string CWifiOssVcsMgr::GetStatusName(int status) {
  return status == WIFI_STATUS_ON ? Text("EVENT_LOG_MGR_WIFI_STATUS_ON")
                                  : Text("EVENT_LOG_MGR_WIFI_STATUS_OFF");
}

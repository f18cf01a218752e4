#include "managers/WifiMgr.h"

#include "app/Trace.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "platform/WirelessDevices.h"

namespace {

std::atomic<CWifiMgr*> g_wifiMgr{nullptr};

// Value names longer than this are not looked at.
constexpr std::size_t kMaxValueNameChars = 200;

}  // namespace

CWifiMgr::CWifiMgr() : CMgr(MGR_ID_WIFI) {
  SetStatusValue(STATUS_DISABLED);
  g_wifiMgr.store(this);
}

CWifiMgr::~CWifiMgr() {
  Detach();
  CWifiMgr* self = this;
  g_wifiMgr.compare_exchange_strong(self, nullptr);
}

CWifiMgr* CWifiMgr::GetInstance() {
  return g_wifiMgr.load();
}

void CWifiMgr::Detach() {
  if (detached_)
    return;
  detached_ = true;
  if (broker_ && broker_ == CSystemStateBroker::GetInstance())
    broker_->RemoveListener(this);
  if (platform::HREGNOTIFY watch = wifiWatch_.exchange(0))
    platform::RegistryCloseNotification(watch);
  Stop();
}

bool CWifiMgr::BeginInitialize() {
  g_wifiMgr.store(this);
  if (ConfigChar(GetId()) == '0') {
    SetStatusValue(STATUS_DISABLED);
    return false;
  }
  return true;
}

void CWifiMgr::WatchAndRefresh() {
  broker_ = CSystemStateBroker::GetInstance();
  if (broker_) {
    broker_->AddListener(this);
    platform::HREGNOTIFY watch = 0;
    if (broker_->Watch(platform::HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", 0xFFFFFFFF,
                       &watch, CSystemStateBroker::MODE_QUEUE) == platform::S_OK) {
      wifiWatch_.store(watch);
    }
  }
  RefreshStatus(1);
}

void CWifiMgr::Initialize() {
  Trace(TRACE_TRACE, "CWifiMgr::Initialize()");
  if (!BeginInitialize())
    return;
  FindDeviceName();
  WatchAndRefresh();
}

void CWifiMgr::FindDeviceName() {
  platform::HKEY key;
  if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, platform::kPowerStateKey, &key) !=
      platform::ERROR_SUCCESS) {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  std::string found;
  std::string name;
  platform::DWORD type = 0;
  for (platform::DWORD i = 0;
       platform::RegEnumValue(key, i, &name, &type) == platform::ERROR_SUCCESS; ++i) {
    if (name.size() < kMaxValueNameChars &&
        name.find(platform::kNetworkAdapterClass) != std::string::npos) {
      found = name;
      break;
    }
  }
  platform::RegCloseKey(key);
  Trace(TRACE_DEBUG, "CWifiMgr::FindDeviceName() [%s]", found.c_str());
  if (found.empty()) {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  std::lock_guard lock(nameMutex_);
  deviceName_ = found;
}

std::string CWifiMgr::GetDeviceName() {
  std::lock_guard lock(nameMutex_);
  return deviceName_;
}

void CWifiMgr::RefreshStatusChild(int force) {
  platform::DWORD value = 0;
  if (platform::RegistryGetDWORD(platform::HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi",
                                 &value) != platform::S_OK) {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  SetStatusValue(value > 5 ? WIFI_STATUS_ON : WIFI_STATUS_OFF);
}

void CWifiMgr::ForceStatusChild(int status, int minutes) {
  ClearTimeLimitNotification(-1);
  int power = status != WIFI_STATUS_OFF ? platform::POWER_D0 : platform::POWER_D4;
  if (platform::SetDevicePower(GetDeviceName(), platform::POWER_NAME, power) ==
      platform::ERROR_SUCCESS) {
    FireStatusChanged(0);
  } else {
    platform::ProcesarError("Error swapping wifi");
    SetStatusValue(STATUS_DISABLED);
  }
}

void CWifiMgr::SwapStatus() {
  ForceStatus(GetStatus() == WIFI_STATUS_OFF ? WIFI_STATUS_ON : WIFI_STATUS_OFF, 0, 0, 0);
}

void CWifiMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_DEBUG, "CWifiMgr::ProcessTimerNotification(%d)", param);
  if (CWifiMgr* wifi = GetInstance()) {
    CChangeCauseScope cause(wifi->TimeLimitCause());
    // The limit's parameter is the status to return to when it is one; swapping would go the
    // wrong way when Wi-Fi was switched meanwhile.
    if (param == WIFI_STATUS_ON || param == WIFI_STATUS_OFF)
      wifi->ForceStatus(param, 0, 0, 0);
    else
      wifi->SwapStatus();
  }
  Trace(TRACE_DEBUG, "CWifiMgr::ProcessTimerNotification(%d)", param);
}

void CWifiMgr::OnStateChanged(platform::HREGNOTIFY handle) {
  if (handle != 0 && handle == wifiWatch_.load())
    RefreshStatus(1);
}

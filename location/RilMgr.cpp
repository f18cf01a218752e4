#include "location/RilMgr.h"

#include <algorithm>
#include <cstring>

#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/ExceptionDB.h"
#include "data/StrLocation.h"
#include "location/CellHistory.h"
#include "location/DayTrace.h"
#include "location/LocationLookup.h"
#include "platform/Mosutil.h"
#include "platform/PowerStatus.h"
#include "platform/Registry.h"
#include "platform/Text.h"

using platform::DWORD;
using platform::HRESULT;

namespace {

constexpr std::size_t kSummaryChars = 99;
constexpr std::size_t kDescriptionChars = 299;
constexpr platform::DWORD kBatteryWatchMask = 0xFFFF0000;

std::atomic<CRilMgr*> g_instance{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

std::string Unsigned(std::int32_t value) {
  return std::to_string(static_cast<std::uint32_t>(value));
}

// The 32-bit word at `index` of a radio record, when the record is long enough to hold it.
bool Word(const void* data, std::size_t size, std::size_t index, DWORD* out) {
  if (!data || size < (index + 1) * sizeof(DWORD))
    return false;
  std::memcpy(out, static_cast<const unsigned char*>(data) + index * sizeof(DWORD), sizeof(DWORD));
  return true;
}

}  // namespace

CRilMgr::CRilMgr() : CMgr(MGR_ID_RIL) {
  g_instance.store(this);
}

CRilMgr::~CRilMgr() {
  Stop();
  {
    std::lock_guard lock(pollMutex_);
    pollRunning_ = false;
  }
  pollWake_.notify_all();
  if (pollThread_.joinable())
    pollThread_.join();
  if (platform::HRIL ril = ril_.exchange(0))
    platform::RIL_Deinitialize(ril);
  if (brokerListening_) {
    if (CSystemStateBroker* broker = CSystemStateBroker::GetInstance())
      broker->RemoveListener(&brokerListener_);
  }
  if (platform::HREGNOTIFY watch = batteryWatch_.exchange(0))
    platform::RegistryCloseNotification(watch);
  // The phone manager is built before this one and so still exists.
  if (phoneMgr_ && CMgr::GetMgr(MGR_ID_PHONE) == phoneMgr_)
    phoneMgr_->RemoveStatusListener(&phoneListener_);
  ClearTimeLimitNotification(MGR_ID_RIL);
  CRilMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

CRilMgr* CRilMgr::GetInstance() {
  return g_instance.load();
}

int CRilMgr::SignalPercent(const platform::RILSIGNALQUALITY& q) {
  if (!(q.dwParams & platform::RIL_PARAM_SQ_SIGNALSTRENGTH) ||
      !(q.dwParams & platform::RIL_PARAM_SQ_MINSIGNALSTRENGTH)) {
    return -1;
  }
  std::int64_t minimum = q.nMinSignalStrength;
  std::int64_t maximum = q.nMaxSignalStrength;
  if (maximum <= minimum)
    return -1;  // no range to place the strength in
  std::int64_t half = -(minimum + maximum) / 2;
  std::int64_t percent = 100 * (q.nSignalStrength + maximum + 2 * half) / (maximum - minimum);
  return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

bool CRilMgr::PhoneRadioOn() {
  if (CMgr* phone = CMgr::GetMgr(MGR_ID_PHONE))
    return phone->GetStatus() == 0;
  return platform::ril::RadioIsOn();
}

bool CRilMgr::IsEnabled() const {
  return ConfigChar(MGR_ID_RIL) != '0';
}

void CRilMgr::Initialize() {
  Trace(TRACE_TRACE, "CRilMgr::Initialize");
  SetLocationMode(static_cast<int>(CRegistrySettings::Instance()->GetDWORD(kLocationModeKey)));
  if (!IsEnabled()) {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  platform::HRIL ril = 0;
  HRESULT hr = platform::RIL_Initialize(
      1,
      [this](DWORD code, HRESULT id, const void* data, std::size_t size, DWORD) {
        OnResult(code, id, data, size);
      },
      [this](DWORD code, const void* data, std::size_t size, DWORD) { OnNotify(code, data, size); },
      kNotificationClasses, 0, &ril);
  if (hr != platform::S_OK) {
    Trace(TRACE_ERROR, "CRilMgr::Initialize RIL_Initialize(%08X)", static_cast<unsigned>(hr));
    return;
  }
  ril_.store(ril);
  RefreshStatus(1);
  if (CSystemStateBroker* broker = CSystemStateBroker::GetInstance()) {
    broker->AddListener(&brokerListener_);
    brokerListening_ = true;
    platform::HREGNOTIFY watch = 0;
    broker->Watch(platform::HKEY_LOCAL_MACHINE, platform::kBatteryStateKey,
                  platform::kBatteryMainValue, kBatteryWatchMask, &watch,
                  CSystemStateBroker::MODE_QUEUE);
    batteryWatch_.store(watch);
  }
  if (CMgr* phone = CMgr::GetMgr(MGR_ID_PHONE)) {
    phoneMgr_ = phone;
    phone->AddStatusListener(&phoneListener_);
  }
  ApplyRefreshSettings();
  {
    std::lock_guard lock(pollMutex_);
    pollRunning_ = true;
  }
  pollThread_ = std::thread([this] { PollLoop(); });
}

void CRilMgr::RefreshStatusChild(int force) {
  forceNotify_.store(force);
  if (!IsEnabled())
    return;
  if (platform::HRIL ril = ril_.load()) {
    std::lock_guard lock(requestMutex_);
    pendingLocationRequest_.store(platform::RIL_GetCellTowerInfo(ril));
    pendingSignalRequest_.store(platform::RIL_GetSignalQuality(ril));
  }
  ReadBattery();
}

void CRilMgr::RequestCellTowerInfo() {
  if (platform::HRIL ril = ril_.load()) {
    std::lock_guard lock(requestMutex_);
    pendingLocationRequest_.store(platform::RIL_GetCellTowerInfo(ril));
  }
}

void CRilMgr::ReadBattery() {
  platform::SYSTEM_POWER_STATUS_EX2 status;
  if (!platform::GetSystemPowerStatusEx2(&status, sizeof status, 1))
    return;
  int percent = std::min<int>(status.BatteryLifePercent, 100);
  if (batteryPercent_.exchange(percent) != percent) {
    FireStatusChanged(REASON_BATTERY);
    RepaintBar(REPAINT_BATTERY_BAR);
  }
}

void CRilMgr::OnNotify(DWORD code, const void* data, std::size_t size) {
  notifications_.fetch_add(1);
  try {
    if (code == platform::RIL_NOTIFY_LOCATIONUPDATE) {
      locationNotifications_.fetch_add(1);
      CRegistrySettings* settings = CRegistrySettings::Instance();
      if (settings->GetDWORD(kNotificationReceivedKey) == 0)
        settings->SetDWORD(kNotificationReceivedKey, 1);
      DWORD lac, cellId;
      if (Word(data, size, 1, &lac) && Word(data, size, 2, &cellId))
        OnLocation(static_cast<std::int32_t>(cellId), static_cast<std::int32_t>(lac), true);
    } else if (code == platform::RIL_NOTIFY_SIGNALQUALITY) {
      OnSignal(data, size, false);
    }
  } catch (const CBaseException& e) {
    // The radio's thread must go on serving; the next report corrects what was missed.
    Trace(TRACE_ERROR, "CRilMgr::OnNotify %s", e.what());
  }
}

void CRilMgr::OnResult(DWORD code, HRESULT requestId, const void* data, std::size_t size) {
  results_.fetch_add(1);
  if (!IsEnabled())
    return;
  bool location, signal;
  {
    // An answer may come before the request's id was stored: wait for the store.
    std::lock_guard lock(requestMutex_);
    location = requestId == pendingLocationRequest_.load();
    signal = requestId == pendingSignalRequest_.load();
  }
  try {
    if (location) {
      locationResults_.fetch_add(1);
      DWORD lac, cellId;
      // A failed request (radio off, no network) carries no cell.
      if (code == platform::RIL_RESULT_OK && Word(data, size, 4, &lac) &&
          Word(data, size, 5, &cellId)) {
        OnLocation(static_cast<std::int32_t>(cellId), static_cast<std::int32_t>(lac), false);
      }
    } else if (signal) {
      if (code == platform::RIL_RESULT_OK)
        OnSignal(data, size, forceNotify_.load() != 0);
    }
  } catch (const CBaseException& e) {
    Trace(TRACE_ERROR, "CRilMgr::OnResult %s", e.what());
  }
}

void CRilMgr::OnSignal(const void* data, std::size_t size, bool reportUnchanged) {
  if (!data || size < sizeof(platform::RILSIGNALQUALITY))
    return;
  platform::RILSIGNALQUALITY quality;
  std::memcpy(&quality, data, sizeof quality);
  int percent = SignalPercent(quality);
  int old = signalPercent_.exchange(percent);
  if (old != percent)
    CDayTrace::NoteSignal(percent);
  if (old != percent || reportUnchanged) {
    FireStatusChanged(REASON_SIGNAL);
    RepaintBar(REPAINT_SIGNAL_BAR);
  }
}

void CRilMgr::OnLocation(std::int32_t cellId, std::int32_t lac, bool fromNotification) {
  std::unique_lock lock(locationMutex_);
  // A report still on its way when the radio went off describes a cell the phone has left.
  if (!platform::ril::RadioIsOn())
    return;
  std::int32_t oldCell = cellId_.load();
  std::int32_t oldLac = lac_.load();
  if (cellId != oldCell || lac != oldLac) {
    std::string summary = FormatText(Text("EVENT_LOG_MGR_CHANGE_POS_RESUME"),
                                     {Unsigned(cellId), Unsigned(lac)}, kSummaryChars);
    std::string description = FormatText(
        Text("EVENT_LOG_MGR_CHANGE_POS_DESCRIPTION"),
        {Unsigned(oldCell), Unsigned(oldLac), Unsigned(cellId), Unsigned(lac)}, kDescriptionChars);
    CCellHistory::Instance()->Add(cellId, lac, fromNotification);
    CEventLog::Add(MGR_ID_RIL, CEventLog::LEVEL_DEBUG, summary, description);
    cellId_.store(cellId);
    lac_.store(lac);
    CDayTrace::NoteLocation(cellId, lac);
    lock.unlock();
    FireStatusChanged(REASON_LOCATION);
  } else if (forceNotify_.load()) {
    lock.unlock();
    FireStatusChanged(REASON_LOCATION);
  }
}

void CRilMgr::OnPhoneStatus(int status) {
  CDayTrace::NoteRadio(status == 0);
  if (status != 0) {
    // The radio is off: no signal and no location until it is back.
    {
      std::lock_guard lock(locationMutex_);
      signalPercent_.store(0);
      cellId_.store(0);
      lac_.store(0);
    }
    RepaintBar(REPAINT_SIGNAL_BAR);
  } else {
    RefreshStatus(1);
  }
}

void CRilMgr::PhoneListener::OnStatusChanged(int status, int mgrId, int reason) {
  if (mgrId == MGR_ID_PHONE)
    owner_->OnPhoneStatus(status);
}

void CRilMgr::BrokerListener::OnStateChanged(platform::HREGNOTIFY handle) {
  if (handle != 0 && handle == owner_->batteryWatch_.load())
    owner_->ReadBattery();
}

void CRilMgr::RepaintBar(Repaint what) {
  if (repaintHook_)
    repaintHook_(what);
}

void CRilMgr::GetLocationNumbers(int* first, int* second) {
  *first = cellId_.load();
  *second = lac_.load();
}

std::int32_t CRilMgr::GetLocationCode() const {
  return cellMode_.load() ? cellId_.load() : lac_.load();
}

void CRilMgr::ResetLocation() {
  if (cellMode_.load())
    cellId_.store(0);
  else
    lac_.store(0);
  FireStatusChanged(REASON_LOCATION);
}

bool CRilMgr::IsKnownLocation() {
  return locationlookup::PlaceIdOfCode(GetLocationCode()).has_value();
}

bool CRilMgr::GetCurrentPlace(CStrPlace* place) {
  auto placeId = locationlookup::PlaceIdOfCode(GetLocationCode());
  if (!placeId)
    return false;
  auto found = locationlookup::FindPlace(*placeId);
  if (!found)
    return false;
  *place = *found;
  return true;
}

void CRilMgr::SetLocationMode(int mode) {
  cellMode_.store(mode);
  CStrLocation::SetCellMode(mode != 0);
  CRegistrySettings::Instance()->SetDWORD(kLocationModeKey, static_cast<DWORD>(mode));
}

void CRilMgr::ApplyRefreshSettings() {
  CRegistrySettings* settings = CRegistrySettings::Instance();
  int minutes = static_cast<int>(settings->GetDWORD(kRefreshMinutesKey));
  int mode = REFRESH_NONE;
  if (minutes != 0)
    mode = settings->GetDWORD(kAwakeToRefreshKey) != 0 ? REFRESH_WAKE : REFRESH_POLL;
  int oldMinutes = refreshMinutes_.exchange(minutes);
  int oldMode = refreshMode_.exchange(mode);
  if (oldMinutes == -1) {
    if (mode == REFRESH_WAKE && minutes > 0)
      SetTimeLimitNotification(MGR_ID_RIL, minutes, kRefreshTimerParam);
  } else if (oldMinutes != minutes || oldMode != mode) {
    if (mode == REFRESH_WAKE) {
      ClearTimeLimitNotification(MGR_ID_RIL);
      SetTimeLimitNotification(MGR_ID_RIL, minutes, kRefreshTimerParam);
    } else if (oldMode == REFRESH_WAKE) {
      // A wake-up that no longer applies would wake the phone for nothing.
      ClearTimeLimitNotification(MGR_ID_RIL);
    }
  }
  // The polling thread takes the new interval at once. The bump is made under the lock so that
  // a thread busy asking for the cell sees it before it waits again.
  {
    std::lock_guard lock(pollMutex_);
    ++pollSettingsSeen_;
  }
  pollWake_.notify_all();
}

void CRilMgr::ProcessTimerNotification(int param) {
  int minutes = refreshMinutes_.load();
  if (param != kRefreshTimerParam || refreshMode_.load() != REFRESH_WAKE || minutes < 1)
    return;
  if (PhoneRadioOn())
    RequestCellTowerInfo();
  SetTimeLimitNotification(MGR_ID_RIL, minutes, kRefreshTimerParam);
}

void CRilMgr::PollLoop() {
  std::unique_lock lock(pollMutex_);
  while (pollRunning_) {
    // Settings applied from here on, even while the lock is let go below, end the wait early.
    unsigned settings = pollSettingsSeen_;
    int minutes = refreshMinutes_.load();
    if (refreshMode_.load() == REFRESH_POLL && minutes > 0 && IsEnabled()) {
      lock.unlock();
      RequestCellTowerInfo();
      lock.lock();
    }
    int waitMs = minutes > 0 ? minutes * 60000 : kIdlePollMs;
    // Woken early by a stop or new settings; a new interval starts from then. Both are checked
    // as conditions, since either can come while the lock was let go above.
    pollWake_.wait_for(lock, std::chrono::milliseconds(waitMs),
                       [&] { return !pollRunning_ || pollSettingsSeen_ != settings; });
  }
}

std::string CRilMgr::GetReportText() const {
  return platform::Format(
      "Notifications: %d\nLocation notifications: %d\nResults: %d\nLocation results: %d\n"
      "Cell: %u\nArea: %u\nSignal: %d%%\nBattery: %d%%\nRefresh: mode %d, %d min",
      notifications_.load(), locationNotifications_.load(), results_.load(),
      locationResults_.load(), static_cast<unsigned>(cellId_.load()),
      static_cast<unsigned>(lac_.load()), signalPercent_.load(), batteryPercent_.load(),
      refreshMode_.load(), refreshMinutes_.load());
}

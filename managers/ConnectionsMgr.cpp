#include "managers/ConnectionsMgr.h"

#include <algorithm>
#include <atomic>
#include <climits>

#include "app/App.h"
#include "app/EventLog.h"
#include "app/MainWindowInterface.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "platform/Text.h"

using namespace platform;

namespace {

std::atomic<CConnectionsMgr*> g_instance{nullptr};

// Where the connection manager keeps its providers, and the phone's radio state value.
constexpr const char* kProvidersPath = "\\Comm\\ConnMgr\\Providers";
constexpr const char* kPhoneStateKey = "System\\State\\Phone";
constexpr const char* kPhoneStatusValue = "Status";
constexpr DWORD kPhoneRadioOff = 0x10;

// Sub-key names are read into 520 bytes: at most 260 characters.
constexpr std::size_t kMaxKeyNameChars = 260;
constexpr int kTestRounds = 300;
constexpr DWORD kTestPauseMs = 5000;

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

CRegistrySettings* Settings() {
  return CRegistrySettings::Instance();
}

// Depth-first search for the key named `name` below `path`: the sub-keys of one level are
// compared first, then each is searched in turn; the first match wins.
std::string SearchProviderKey(const std::string& path, const std::string& name) {
  HKEY key;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
    return "";
  std::vector<std::string> children;
  std::string child;
  for (DWORD i = 0; RegEnumKeyEx(key, i, &child) == ERROR_SUCCESS; ++i)
    children.push_back(Utf8Truncate(child, kMaxKeyNameChars));
  RegCloseKey(key);
  for (const auto& c : children) {
    if (c == name)
      return path + "\\" + name;
  }
  for (const auto& c : children) {
    std::string found = SearchProviderKey(path + "\\" + c, name);
    if (!found.empty())
      return found;
  }
  return "";
}

bool IsZero(const SYSTEMTIME& t) {
  return t.wYear == 0;
}

int ClampSeconds(DWORD seconds) {
  return seconds > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(seconds);
}

}  // namespace

CConnectionsMgr::CConnectionsMgr() : CMgr(MGR_ID_CONNECTIONS) {
  SetStatusValue(STATUS_NONE_CONNECTED);
  g_instance.store(this);
}

CConnectionsMgr::~CConnectionsMgr() {
  // The worker may still run a command that calls into this class: stop it first.
  Stop();
  for (int id : {MGR_ID_PHONE, MGR_ID_BAND}) {
    if (CMgr* mgr = GetMgr(id))
      mgr->RemoveStatusListener(this);
  }
  // A status callback already under way ends before the entries go.
  { std::lock_guard lock(listenerMutex_); }
  {
    std::lock_guard lock(entriesMutex_);
    entries_.clear();
  }
  ClearIddleNotification();
  CConnectionsMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

CConnectionsMgr* CConnectionsMgr::GetInstance() {
  return g_instance.load();
}

// ---- CMgr ----------------------------------------------------------------------------------

void CConnectionsMgr::Initialize() {
  Trace(TRACE_TRACE, "CConnectionsMgr::Initialize");
  if (ConfigChar(GetId()) == '0') {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  EnumEntries();
  PrintStatus();
  ReevaluateIdleNotification();
  for (int id : {MGR_ID_BAND, MGR_ID_PHONE}) {
    if (CMgr* mgr = GetMgr(id))
      mgr->AddStatusListener(this);
  }
  Trace(TRACE_TRACE, "CConnectionsMgr::-Initialize");
}

void CConnectionsMgr::RefreshStatusChild(int force) {
  RefreshEntryStates();
  if (!HayConexionesHabilitadas())
    SetStatusValue(STATUS_NONE_ENABLED);
  else if (!HayConexionesActivas())
    SetStatusValue(STATUS_NONE_CONNECTED);
  else
    SetStatusValue(STATUS_CONNECTED);
}

void CConnectionsMgr::RunTest() {
  for (int round = 0; round < kTestRounds; ++round) {
    ForceStatusChild(round % 2 == 0 ? STATUS_CONNECTED : STATUS_NONE_ENABLED, 0);
    std::string line = Format("Test %d", round);
    CEventLog::Add(GetId(), CEventLog::LEVEL_DEBUG, line, line);
    platform::Sleep(kTestPauseMs);
  }
}

void CConnectionsMgr::ForceStatusChild(int status, int minutes) {
  Trace(TRACE_TRACE, "CConnectionsMgr::ForceStatusChild(%d)", status);
  RefreshEntryStates();
  switch (status) {
    case STATUS_NONE_ENABLED:
      ConectarTodasConexiones(false);
      HabilitarTodasConexiones(false);
      break;
    case STATUS_NONE_CONNECTED:
      HabilitarTodasConexiones(true);
      ConectarTodasConexiones(false);
      break;
    case STATUS_CONNECTED: {
      HabilitarTodasConexiones(true);
      std::lock_guard lock(entriesMutex_);
      if (CRasConnection* entry = PreferredOrFirst())
        entry->Connect();
      break;
    }
    default:
      break;
  }
}

void CConnectionsMgr::SetSecondaryStatus() {
  ForceStatus(STATUS_CONNECTED, 0, 0, 0);
}

void CConnectionsMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_TRACE, "CConnectionsMgr::ProcessTimerNotification(%d)", param);
  // The connections are switched here, not through a request: the changes the refresh below
  // observes are the time limit's.
  CChangeCauseScope cause(TimeLimitCause());
  switch (param) {
    case STATUS_NONE_ENABLED:
      HabilitarTodasConexiones(false);
      break;
    case STATUS_NONE_CONNECTED:
      ConectarTodasConexiones(false);
      break;
    case STATUS_CONNECTED:
      ConectarTodasConexiones(true);
      break;
    default:
      break;
  }
  RefreshStatus(1);
}

void CConnectionsMgr::HandleCommandChild(int command, int value) {
  switch (command) {
    case CMD_ENABLE_ALL:
      HabilitarTodasConexiones(value != 0);
      break;
    case CMD_CONNECT_ALL:
      ConectarTodasConexiones(value != 0);
      break;
    case CMD_CONNECT_PREFERRED:
      ConnectPreferred(value != 0);
      break;
    default:
      break;
  }
}

std::string CConnectionsMgr::GetName() {
  return Text("EVENT_LOG_MGR_CONNECTIONS_NAME");
}

std::string CConnectionsMgr::GetStatusName(int status) {
  switch (status) {
    case STATUS_NONE_ENABLED:
      return Text("EVENT_LOG_MGR_CONNECTIONS_STATUS_DISABLED");
    case STATUS_NONE_CONNECTED:
      return Text("EVENT_LOG_MGR_CONNECTIONS_STATUS_OFF");
    case STATUS_CONNECTED:
      return Text("EVENT_LOG_MGR_CONNECTIONS_STATUS_ON");
    default:
      return "unknown";
  }
}

// ---- Following the phone radio --------------------------------------------------------------

void CConnectionsMgr::OnStatusChanged(int status, int mgrId, int reason) {
  std::lock_guard lock(listenerMutex_);
  if (mgrId != MGR_ID_PHONE || reason != 0)
    return;
  Trace(TRACE_TRACE, "CConnectionsMgr::OnStatusChanged(%d)", status);
  PlaceActionsSource source;
  {
    std::lock_guard sourceLock(sourceMutex_);
    source = placeActions_;
  }
  if (source) {
    for (int value : source(MGR_ID_CONNECTIONS))
      ForceStatus(value, 0, 0, 0, CChangeCause::RadioBack());
  }
  RefreshStatus(0);
}

void CConnectionsMgr::SetPlaceActionsSource(PlaceActionsSource source) {
  std::lock_guard lock(sourceMutex_);
  placeActions_ = std::move(source);
}

// ---- Connection-manager events and idle closing ----------------------------------------------

void CConnectionsMgr::NewEvent(WPARAM wParam) {
  Trace(TRACE_TRACE, "CConnectionsMgr::NewEvent(%d)", static_cast<int>(wParam));
  IncrementEventCount();
  RefreshStatus(1);
  HangUpDisabledActive();
  PrintStatus();
  if (!HayConexionesActivas())
    StopIdleTracking();
  ReevaluateIdleNotification();
}

void CConnectionsMgr::ReevaluateIdleNotification() {
  if (HayConexionesActivas() && Settings()->GetDWORD(kActivateIdleKey) != 0) {
    SetIddleNotification(kFirstIdleCheckSeconds);
  } else {
    ClearIddleNotification();
    RefreshMainWindow();
  }
}

void CConnectionsMgr::RemoveIddleNotifications() {
  StopIdleTracking();
  ClearIddleNotification();
  RefreshMainWindow();
}

void CConnectionsMgr::ProcessIdleNotification() {
  Trace(TRACE_TRACE, "CConnectionsMgr::ProcessIdleNotification");
  if (!HayConexionesActivas() || Settings()->GetDWORD(kActivateIdleKey) == 0)
    return;
  SYSTEMTIME now = Clock::LocalTime();
  SYSTEMTIME last;
  {
    std::lock_guard lock(idleMutex_);
    last = lastCheck_;
  }
  if (IsZero(last)) {
    // The first notification only starts tracking: the counters now are the baseline.
    {
      std::lock_guard lock(idleMutex_);
      lastCheck_ = now;
    }
    RefreshAllTraffic();
    SetIddleNotification(ClampSeconds(Settings()->GetDWORD(kSecondsIdleKey)));
  } else {
    int secondsIdle = ClampSeconds(Settings()->GetDWORD(kSecondsIdleKey));
    int elapsed = secondsIdle;  // a difference that cannot be computed counts as a full period
    if (IsValidSystemTime(last) && IsValidSystemTime(now))
      elapsed = static_cast<int>(DT_PeriodsBetween(DT_SECOND, last, now));
    if (elapsed < secondsIdle) {
      // Early: the period since the last check is not over. The last check stays where it
      // was, so that the next notification completes this period.
      int remainder = secondsIdle - elapsed;
      Trace(TRACE_DEBUG, "Notificacion desajustada. Planificando otra nueva en %d seg", remainder);
      SetIddleNotification(remainder);
    } else if (HayTrafico()) {
      {
        std::lock_guard lock(idleMutex_);
        lastCheck_ = now;
      }
      SetIddleNotification(secondsIdle);
    } else {
      {
        std::lock_guard lock(idleMutex_);
        ++idleCloses_;
        lastCheck_ = SYSTEMTIME{};
        lastClose_ = now;
      }
      ConectarTodasConexiones(false);
    }
  }
  NotifyStatisticsObservers();
}

void CConnectionsMgr::SetIddleNotification(int seconds) {
  Trace(TRACE_DEBUG, "SetIddleNotification(%d)", seconds);
  // At most one idle notification is pending: each would otherwise start its own chain of
  // checks.
  ClearIddleNotification();
  HNOTIFY handle =
      timernotification::Register(timernotification::kIdleArgument, DT_SECOND, seconds);
  {
    std::lock_guard lock(idleMutex_);
    idleNotification_ = handle;
  }
  SYSTEMTIME due;
  if (handle && DT_AddDiff(&due, DT_SECOND, seconds, Clock::LocalTime()))
    Trace(TRACE_DEBUG, "Notificacion:%02d:%02d:%02d", due.wHour, due.wMinute, due.wSecond);
  RefreshMainWindow();
}

void CConnectionsMgr::ClearIddleNotification() {
  HNOTIFY handle;
  {
    std::lock_guard lock(idleMutex_);
    handle = idleNotification_;
    idleNotification_ = 0;
  }
  timernotification::Clear(handle);
}

void CConnectionsMgr::StopIdleTracking() {
  std::lock_guard lock(idleMutex_);
  lastCheck_ = SYSTEMTIME{};
}

void CConnectionsMgr::RefreshMainWindow() {
  if (CApp* app = CApp::GetInstance())
    app->WithMainWindow([](IMainWindow* window) { window->RefreshNotificationDiagnostics(); });
}

void CConnectionsMgr::NotifyStatisticsObservers() {
  std::vector<IConnectionsStatisticsObserver*> copy;
  {
    std::lock_guard lock(observersMutex_);
    copy = observers_;
  }
  for (auto* o : copy)
    o->RefreshStatistics();
}

void CConnectionsMgr::RefreshAllTraffic() {
  {
    std::lock_guard lock(entriesMutex_);
    for (auto& e : entries_)
      e->RefreshDataTraffic();
  }
  std::lock_guard lock(idleMutex_);
  ++trafficChecks_;
}

bool CConnectionsMgr::HayTrafico() {
  RefreshAllTraffic();
  std::lock_guard lock(entriesMutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const auto& e) { return e->HaHabidoTrafico(); });
}

// ---- The entry list ------------------------------------------------------------------------

void CConnectionsMgr::EnumEntries() {
  std::string preferred = Settings()->GetString(kPreferredKey);
  std::lock_guard lock(entriesMutex_);
  entries_.clear();
  std::vector<std::string> names;
  RasEnumEntries(&names, kMaxEntries);
  for (const auto& name : names) {
    RASENTRY properties;
    if (RasGetEntryProperties(name, &properties) != ERROR_SUCCESS)
      continue;
    std::string keyPath = SearchProviderKey(kProvidersPath, name);
    DWORD enabled = 0;
    if (keyPath.empty() ||
        RegistryGetDWORD(HKEY_LOCAL_MACHINE, keyPath, "enabled", &enabled) != S_OK) {
      continue;
    }
    DWORD alwaysOn = 0;
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, keyPath, "AlwaysOn", &alwaysOn);
    auto entry = std::make_unique<CRasConnection>(name, keyPath);
    entry->SetEnabled(enabled == 1);
    entry->SetPreferred(name == preferred);
    entry->SetAlwaysOn(alwaysOn);
    EstablecerEstadoConnection(*entry);
    entries_.push_back(std::move(entry));
  }
  if (entries_.size() == 1)
    MakePreferred(*entries_.front());
}

std::vector<CRasConnection> CConnectionsMgr::GetEntries() {
  std::lock_guard lock(entriesMutex_);
  std::vector<CRasConnection> copy;
  for (const auto& e : entries_)
    copy.push_back(*e);
  return copy;
}

void CConnectionsMgr::EstablecerEstadoConnection(CRasConnection& entry) {
  entry.SetActive(false);
  DWORD phone = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, kPhoneStateKey, kPhoneStatusValue, &phone);
  if (phone & kPhoneRadioOff) {
    Trace(TRACE_DEBUG, "Refresco de conexion omitida porque el telefono esta apagado");
    return;
  }
  entry.ReadConnectionState();
}

void CConnectionsMgr::RefreshEntryStates() {
  std::lock_guard lock(entriesMutex_);
  for (auto& e : entries_)
    EstablecerEstadoConnection(*e);
}

bool CConnectionsMgr::HayConexionesActivas() {
  std::lock_guard lock(entriesMutex_);
  bool any = false;
  for (const auto& e : entries_) {
    Trace(TRACE_TRACE, e->IsActive() ? "Activa" : "No activa");
    any = any || e->IsActive();
  }
  return any;
}

bool CConnectionsMgr::HayConexionesHabilitadas() {
  std::lock_guard lock(entriesMutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const auto& e) { return e->IsEnabled(); });
}

void CConnectionsMgr::HabilitarTodasConexiones(bool enable) {
  {
    std::lock_guard lock(entriesMutex_);
    for (auto& e : entries_) {
      e->SetEnabled(enable);
      if (!enable && e->IsActive())
        e->HangUp();
      e->Write();
    }
  }
  RefreshStatus(1);
}

void CConnectionsMgr::SetEnabledAt(bool enable, int index) {
  std::lock_guard lock(entriesMutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
    return;
  CRasConnection& e = *entries_[static_cast<std::size_t>(index)];
  e.SetEnabled(enable);
  if (!enable && e.IsActive())
    e.HangUp();
  e.Write();
}

void CConnectionsMgr::ToggleEnabledAt(int index) {
  std::lock_guard lock(entriesMutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
    return;
  SetEnabledAt(!entries_[static_cast<std::size_t>(index)]->IsEnabled(), index);
}

void CConnectionsMgr::SetAlwaysOnAt(DWORD value, int index) {
  bool connect = false;
  {
    std::lock_guard lock(entriesMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
      return;
    CRasConnection& e = *entries_[static_cast<std::size_t>(index)];
    e.SetAlwaysOn(value);
    e.Write();
    bool otherActive = std::any_of(entries_.begin(), entries_.end(),
                                   [&](const auto& o) { return o.get() != &e && o->IsActive(); });
    connect = value != 0 && !e.IsActive() && otherActive;
  }
  if (!connect)
    return;
  ConectarTodasConexiones(false);
  std::lock_guard lock(entriesMutex_);
  if (static_cast<std::size_t>(index) < entries_.size())
    entries_[static_cast<std::size_t>(index)]->Connect();
}

void CConnectionsMgr::ToggleAlwaysOnAt(int index) {
  DWORD value;
  {
    std::lock_guard lock(entriesMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
      return;
    value = entries_[static_cast<std::size_t>(index)]->GetAlwaysOn() ? 0 : 1;
  }
  SetAlwaysOnAt(value, index);
}

void CConnectionsMgr::ToggleConnectedAt(int index) {
  bool active;
  {
    std::lock_guard lock(entriesMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
      return;
    active = entries_[static_cast<std::size_t>(index)]->IsActive();
  }
  SetConnectedAt(!active, index);
}

void CConnectionsMgr::SetConnectedAt(bool connect, int index) {
  bool hangUpAll = false;
  {
    std::lock_guard lock(entriesMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size())
      return;
    CRasConnection& e = *entries_[static_cast<std::size_t>(index)];
    if (!connect) {
      e.HangUp();
      return;
    }
    hangUpAll = !e.IsActive() && std::any_of(entries_.begin(), entries_.end(),
                                             [](const auto& o) { return o->IsActive(); });
  }
  if (hangUpAll)
    ConectarTodasConexiones(false);
  std::lock_guard lock(entriesMutex_);
  if (static_cast<std::size_t>(index) < entries_.size())
    entries_[static_cast<std::size_t>(index)]->Connect();
}

CRasConnection* CConnectionsMgr::PreferredOrFirst() {
  for (auto& e : entries_) {
    if (e->IsPreferred())
      return e.get();
  }
  return entries_.empty() ? nullptr : entries_.front().get();
}

void CConnectionsMgr::ConnectPreferred(bool connect) {
  std::lock_guard lock(entriesMutex_);
  CRasConnection* e = PreferredOrFirst();
  if (!e)
    return;
  if (!e->IsEnabled()) {
    e->SetEnabled(true);
    e->Write();
  }
  if (connect)
    e->Connect();
  else
    e->HangUp();
}

void CConnectionsMgr::ConectarTodasConexiones(bool connect) {
  {
    std::lock_guard lock(entriesMutex_);
    std::vector<CRasConnection*> targets;
    for (auto& e : entries_) {
      if (e->IsPreferred()) {
        targets = {e.get()};
        break;
      }
      targets.push_back(e.get());
    }
    for (CRasConnection* e : targets) {
      if (!e->IsEnabled()) {
        e->SetEnabled(true);
        e->Write();
      }
      if (connect) {
        e->Connect();
      } else {
        ClearTimeLimitNotification(-1);
        e->HangUp();
      }
    }
  }
  RefreshStatus(1);
}

void CConnectionsMgr::MakePreferred(CRasConnection& entry) {
  entry.SetPreferred(true);
  Settings()->SetString(kPreferredKey, entry.GetName());
}

void CConnectionsMgr::ClearPreferred() {
  std::lock_guard lock(entriesMutex_);
  for (auto& e : entries_)
    e->SetPreferred(false);
}

void CConnectionsMgr::SetPreferredByName(const std::string& name) {
  std::lock_guard lock(entriesMutex_);
  for (auto& e : entries_) {
    if (e->GetName() == name)
      MakePreferred(*e);
    else
      e->SetPreferred(false);
  }
}

void CConnectionsMgr::PrintStatus() {
  std::lock_guard lock(entriesMutex_);
  for (const auto& e : entries_) {
    Trace(TRACE_DEBUG, "%s-%d-%d", e->GetName().c_str(), e->IsEnabled() ? 1 : 0,
          e->IsActive() ? 1 : 0);
  }
}

void CConnectionsMgr::HangUpDisabledActive() {
  std::lock_guard lock(entriesMutex_);
  for (auto& e : entries_) {
    if (e->IsActive() && !e->IsEnabled())
      e->HangUp();
  }
}

// ---- Statistics ----------------------------------------------------------------------------

DWORD CConnectionsMgr::GetTotalTraffic() {
  std::lock_guard lock(entriesMutex_);
  DWORD total = 0;
  for (const auto& e : entries_)
    total += e->GetBytesNow();
  return total;
}

int CConnectionsMgr::GetTrafficChecks() {
  std::lock_guard lock(idleMutex_);
  return trafficChecks_;
}

int CConnectionsMgr::GetIdleCloses() {
  std::lock_guard lock(idleMutex_);
  return idleCloses_;
}

SYSTEMTIME CConnectionsMgr::GetLastCheck() {
  std::lock_guard lock(idleMutex_);
  return lastCheck_;
}

SYSTEMTIME CConnectionsMgr::GetLastClose() {
  std::lock_guard lock(idleMutex_);
  return lastClose_;
}

HNOTIFY CConnectionsMgr::GetIdleNotification() {
  std::lock_guard lock(idleMutex_);
  return idleNotification_;
}

bool CConnectionsMgr::IsIdleTracking() {
  std::lock_guard lock(idleMutex_);
  return !IsZero(lastCheck_);
}

void CConnectionsMgr::AddStatisticsObserver(IConnectionsStatisticsObserver* observer) {
  std::lock_guard lock(observersMutex_);
  observers_.push_back(observer);
}

void CConnectionsMgr::RemoveStatisticsObserver(IConnectionsStatisticsObserver* observer) {
  std::lock_guard lock(observersMutex_);
  auto it = std::find(observers_.begin(), observers_.end(), observer);
  if (it != observers_.end())
    observers_.erase(it);
}

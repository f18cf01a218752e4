#include "app/Mgr.h"

#include <algorithm>
#include <chrono>

#include "app/App.h"
#include "app/EventLog.h"
#include "app/MainWindowInterface.h"
#include "app/RegistrySettings.h"
#include "app/Stopwatch.h"
#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Mosutil.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace {

CTimedMutex g_mgrsMutex;
std::vector<CMgr*> g_mgrs;
std::mutex g_configMutex;
std::string g_mgrConfig;
bool g_mgrConfigLoaded = false;
CTimedMutex g_notificationsMutex;

constexpr std::size_t kSummaryChars = 99;
constexpr std::size_t kDescriptionChars = 299;

// A mutex that could not be taken in time is taken as a deadlock: the program restarts itself in
// an orderly way. The operation still goes on.
void OnMutexTimeout() {
  Trace(TRACE_ERROR, "ERROR TIMEOUT MUTEX");
  if (CRegistrySettings::DebugInfo()) {
    platform::TextBox(0, CTexts::GetInstance()->GetText("ERROR TIMEOUT MUTEX"));
  }
  if (CApp* app = CApp::GetInstance())
    app->RequestExit();
}

class TimedLock {
 public:
  explicit TimedLock(CTimedMutex& m) : m_(m) {
    locked_ = m_.TryLockFor(CMgr::kMutexLimitMs);
    if (!locked_)
      OnMutexTimeout();
  }
  ~TimedLock() {
    if (locked_)
      m_.unlock();
  }

 private:
  CTimedMutex& m_;
  bool locked_;
};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// The refreshes under way on this thread, innermost first: a listener fired from inside one
// manager's refresh may refresh another manager.
struct RefreshScope {
  const CMgr* mgr;
  bool changed;
  RefreshScope* outer;
};
thread_local RefreshScope* t_refresh = nullptr;

}  // namespace

bool CTimedMutex::TryLockFor(int limitMs) {
  std::unique_lock lock(mutex_);
  if (!free_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return !held_; }))
    return false;
  held_ = true;
  return true;
}

void CTimedMutex::lock() {
  std::unique_lock lock(mutex_);
  free_.wait(lock, [this] { return !held_; });
  held_ = true;
}

void CTimedMutex::unlock() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  free_.notify_one();
}

void CAutoResetEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  cv_.notify_all();
}

void CAutoResetEvent::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool CAutoResetEvent::Wait(int timeoutMs) {
  std::unique_lock lock(mutex_);
  bool ok = cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return set_; });
  set_ = false;
  return ok;
}

void CMgr::LoadConfig() {
  std::string config = CRegistrySettings::Instance()->GetString("mgr_config");
  std::lock_guard lock(g_configMutex);
  g_mgrConfig = platform::Utf8Truncate(config, kMgrConfigChars);
  g_mgrConfigLoaded = true;
}

char CMgr::ConfigChar(int id) {
  std::lock_guard lock(g_configMutex);
  if (id < 0 || static_cast<std::size_t>(id) >= g_mgrConfig.size())
    return '\0';
  return g_mgrConfig[static_cast<std::size_t>(id)];
}

CMgr::CMgr(int id) : WorkerThread(1), id_(id) {
  bool load;
  {
    std::lock_guard lock(g_configMutex);
    load = !g_mgrConfigLoaded || g_mgrConfig.empty();
  }
  if (load)
    LoadConfig();
  AddMgr(this);
  Start();
}

CMgr::~CMgr() {
  Stop();
  RemoveMgr(this);
}

void CMgr::AddMgr(CMgr* mgr) {
  TimedLock lock(g_mgrsMutex);
  g_mgrs.push_back(mgr);
}

void CMgr::RemoveMgr(CMgr* mgr) {
  TimedLock lock(g_mgrsMutex);
  g_mgrs.erase(std::remove(g_mgrs.begin(), g_mgrs.end(), mgr), g_mgrs.end());
}

std::vector<CMgr*> CMgr::GetAll() {
  std::lock_guard lock(g_mgrsMutex);
  return g_mgrs;
}

CMgr* CMgr::GetMgr(int id) {
  for (CMgr* m : GetAll()) {
    if (m->GetId() == id)
      return m;
  }
  return nullptr;
}

void CMgr::RefreshAll() {
  for (CMgr* m : GetAll())
    m->RefreshStatus(1);
}

void CMgr::SendStatusToPlugin() {
  CApp* app = CApp::GetInstance();
  if (!app || !app->GetMainWindow())
    return;
  for (CMgr* m : GetAll())
    m->PushToPlugin();
}

void CMgr::PushToPlugin() {
  CApp* app = CApp::GetInstance();
  if (!app)
    return;
  app->WithMainWindow([this](IMainWindow* window) {
    if (GetId() == MGR_ID_RIL) {
      int first, second;
      GetLocationNumbers(&first, &second);
      window->SendLocation(first, second);
    } else {
      window->SendFeatureState(GetId(), GetStatus());
    }
  });
}

void CMgr::DispatchTimerNotification(int mgrId, int param) {
  if (mgrId == GetId())
    ProcessTimerNotification(param);
}

void CMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_DEBUG, "Un manager no implemento ProcessTimerNotification");
}

void CMgr::ForceStatus(int status, int minutes, int param, int delayMs, const CChangeCause& cause) {
  CChangeCauseScope scope(cause);
  ForceStatus(status, minutes, param, delayMs);
}

CChangeCause CMgr::TimeLimitCause() {
  std::string status;
  std::string since;
  {
    std::lock_guard lock(causeMutex_);
    status.swap(limitedStatus_);
    since.swap(limitedSince_);
  }
  if (status.empty())
    status = GetStatusName(GetStatus());
  return CChangeCause::TimeLimit(GetName(), status, since);
}

CChangeCause CMgr::CauseOfObservedChange(int now) {
  if (const CChangeCause* scoped = CChangeCauseScope::Current())
    return *scoped;
  std::lock_guard lock(causeMutex_);
  if (pendingCause_ && pendingCause_->first == now &&
      platform::GetTickCount() - pendingSinceTick_ <= kPendingCauseMs) {
    CChangeCause cause = std::move(pendingCause_->second);
    pendingCause_.reset();
    return cause;
  }
  return CChangeCause::Outside();
}

void CMgr::ForceStatus(int status, int minutes, int param, int delayMs) {
  statusEvent_.Reset();
  if (ConfigChar(GetId()) != '2') {
    statusEvent_.Set();
    requestAccepted_.store(0);
    Trace(TRACE_DEBUG, "Manager deshabilitado");
    return;
  }
  if (status == 10)
    return;
  requestAccepted_.store(1);
  ClearTimeLimitNotification(-1);
  limitMinutes_.store(minutes);
  limitParam_.store(param);
  const CChangeCause* scoped = CChangeCauseScope::Current();
  auto* request =
      new StatusChangeRequest{status, delayMs, scoped ? *scoped : CChangeCause::Button()};
  std::string name = GetName();
  std::string statusName = GetStatusName(status);
  CEventLog::Add(
      GetId(), 2,
      FormatText(Text("EVENT_LOG_MGR_CHANGING_STATUS_RESUME"), {name, statusName}, kSummaryChars),
      FormatText(Text("EVENT_LOG_MGR_CHANGING_STATUS_DESCRIPTION"), {name, statusName},
                 kDescriptionChars),
      DescribeCause(request->cause));
  PostCommand(CMD_FORCE_STATUS, -1, reinterpret_cast<std::intptr_t>(request));
}

void CMgr::HandleCommandWorkerThread(int command, std::intptr_t param) {
  Trace(TRACE_TRACE, "CMgr::HandleCommand(%d)", command);
  std::unique_ptr<StatusChangeRequest> request(reinterpret_cast<StatusChangeRequest*>(param));
  if (!request)
    return;
  if (request->delayMs > 0)
    platform::Sleep(static_cast<platform::DWORD>(request->delayMs));
  // Changes observed while the command runs are the request's.
  CChangeCauseScope scope(request->cause);
  if (command == CMD_FORCE_STATUS) {
    int minutes = limitMinutes_.load();
    std::string limited = minutes > 0 ? GetStatusName(request->value) : std::string();
    {
      std::lock_guard lock(causeMutex_);
      pendingCause_.emplace(request->value, request->cause);
      pendingSinceTick_ = platform::GetTickCount();
      if (minutes > 0) {
        platform::SYSTEMTIME now = platform::Clock::LocalTime();
        limitedStatus_ = limited;
        limitedSince_ = platform::Format("%02d:%02d", now.wHour, now.wMinute);
      }
    }
    ForceStatusChild(request->value, minutes);
    if (minutes > 0)
      SetTimeLimitNotification(GetId(), minutes, limitParam_.load());
    RefreshStatus(0);
    // A change that finishes later (the radio, the band) is still the request's; one that is
    // there already has nothing left to explain.
    std::lock_guard lock(causeMutex_);
    if (pendingCause_ && pendingCause_->first == GetStatus())
      pendingCause_.reset();
    pendingSinceTick_ = platform::GetTickCount();
  } else {
    HandleCommandChild(command, request->value);
  }
}

void CMgr::DiscardCommand(int command, std::intptr_t param) {
  delete reinterpret_cast<StatusChangeRequest*>(param);
}

void CMgr::RefreshStatus(int force) {
  if (ConfigChar(GetId()) == '0') {
    Trace(TRACE_TRACE, "Refresco de manager deshabilitado");
    return;
  }
  struct Scope {
    explicit Scope(const CMgr* mgr) : scope{mgr, false, t_refresh} { t_refresh = &scope; }
    ~Scope() { t_refresh = scope.outer; }
    RefreshScope scope;
  } refresh(this);
  RefreshStatusChild(force);
  bool changed = refresh.scope.changed;
  if (NotifyOnRefresh() && (force != 0 || changed))
    FireStatusChanged(REASON_REFRESH);
}

bool CMgr::SetStatusValue(int status) {
  std::lock_guard lock(statusMutex_);
  int old = status_.exchange(status);
  if (old == status)
    return false;
  for (RefreshScope* s = t_refresh; s; s = s->outer) {
    if (s->mgr == this) {
      s->changed = true;
      WriteChangedEntry(old, status);
      break;
    }
  }
  return true;
}

void CMgr::WriteChangedEntry(int old, int now) {
  std::string unknown = Text("EVENT_LOG_MGR_UNKNOWN_STATUS");
  auto orUnknown = [&](std::string s) { return platform::Utf8Length(s) < 2 ? unknown : s; };
  std::string name = orUnknown(GetName());
  std::string oldName = orUnknown(GetStatusName(old));
  std::string newName = orUnknown(GetStatusName(now));
  CEventLog::Add(
      GetId(), 1,
      FormatText(Text("EVENT_LOG_MGR_CHANGED_STATUS_RESUME"), {name, newName}, kSummaryChars),
      FormatText(Text("EVENT_LOG_MGR_CHANGED_STATUS_DESCRIPTION"), {name, oldName, newName},
                 kDescriptionChars),
      // The first reading of a status is no change of the feature: it has no cause.
      old == STATUS_UNKNOWN ? std::string() : DescribeCause(CauseOfObservedChange(now)));
}

void CMgr::FireStatusChanged(int reason) {
  Trace(TRACE_TRACE, "CMgr::FireStatusChanged(%d)(%d)", GetId(), reason);
  PushToPlugin();
  std::vector<IStatusListener*> copy;
  {
    TimedLock lock(listenersMutex_);
    copy = listeners_;
  }
  // Marks this thread as delivering until the end of the scope, also when a listener throws.
  struct Delivering {
    explicit Delivering(CMgr& m) : mgr(m) {
      std::lock_guard lock(mgr.firingMutex_);
      mgr.firing_.push_back(std::this_thread::get_id());
    }
    ~Delivering() {
      {
        std::lock_guard lock(mgr.firingMutex_);
        mgr.firing_.erase(
            std::find(mgr.firing_.begin(), mgr.firing_.end(), std::this_thread::get_id()));
      }
      mgr.firingDone_.notify_all();
    }
    CMgr& mgr;
  } delivering(*this);
  int status = GetStatus();
  for (IStatusListener* l : copy) {
    {
      // Skips a listener removed since the copy was taken.
      TimedLock lock(listenersMutex_);
      if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end())
        continue;
    }
    std::string name = l->GetListenerName();
    Trace(TRACE_TRACE, "Notifing listener %s", name.c_str());
    l->OnStatusChanged(status, GetId(), reason);
    Trace(TRACE_TRACE, "Notified listener %s", name.c_str());
  }
  Trace(TRACE_TRACE, "CMgr::-FireStatusChanged(%d)", reason);
}

void CMgr::AddStatusListener(IStatusListener* listener) {
  Trace(TRACE_TRACE, "Waiting AddStatusListener");
  TimedLock lock(listenersMutex_);
  listeners_.push_back(listener);
}

void CMgr::RemoveStatusListener(IStatusListener* listener) {
  Trace(TRACE_TRACE, "Waiting RemoveStatusListener");
  {
    TimedLock lock(listenersMutex_);
    auto it = std::find(listeners_.begin(), listeners_.end(), listener);
    if (it != listeners_.end())
      listeners_.erase(it);
  }
  // Waits for deliveries under way on other threads; a listener that removes itself from its
  // own call is not waited for.
  auto self = std::this_thread::get_id();
  std::unique_lock lock(firingMutex_);
  bool done = firingDone_.wait_for(lock, std::chrono::seconds(5), [&] {
    return std::all_of(firing_.begin(), firing_.end(), [&](auto id) { return id == self; });
  });
  if (!done)
    Trace(TRACE_WARNING, "RemoveStatusListener: a status delivery still runs");
}

void CMgr::SetTimeLimitNotification(int mgrId, int minutes, int param) {
  if (minutes <= 0)
    return;
  ClearTimeLimitNotification(mgrId);
  platform::HNOTIFY handle = timernotification::Register(
      timernotification::TimerArgument(mgrId, param), platform::DT_MINUTE, minutes);
  limitNotification_.store(handle);
  CLimitNotifications::Set(mgrId, handle);
  if (CApp* app = CApp::GetInstance())
    app->WithMainWindow([](IMainWindow* window) { window->RefreshNotificationDiagnostics(); });
}

void CMgr::ClearTimeLimitNotification(int mgrId) {
  Trace(TRACE_TRACE, "CMgr::ClearTimeLimitNotification(%d)", mgrId);
  if (mgrId == -1)
    mgrId = GetId();
  timernotification::Clear(CLimitNotifications::Take(mgrId));
}

void CMgr::EnsureTimeLimitNotification(int mgrId, int minutes, int param) {
  CStopwatch watch;
  watch.Start();
  bool exists;
  {
    TimedLock lock(g_notificationsMutex);
    exists = timernotification::Exists(GetId(), param, 500);
  }
  if (!exists)
    SetTimeLimitNotification(mgrId, minutes, param);
  watch.Stop();
  Trace(TRACE_DEBUG, "CMgr::EnsureTimeLimitNotification %f ms", watch.Elapsed() * 1000.0);
}

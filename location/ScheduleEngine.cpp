#include "location/ScheduleEngine.h"

#include <algorithm>

#include "app/App.h"
#include "app/BaseException.h"
#include "app/EventLog.h"
#include "app/MainWindowInterface.h"
#include "app/RegistrySettings.h"
#include "app/TextFormat.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "data/DB.h"
#include "data/StrCell.h"
#include "data/StrLocation.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLocation.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/CellHistory.h"
#include "location/LocationLookup.h"
#include "location/RilMgr.h"
#include "managers/BandMgr.h"
#include "managers/CallForwardMgr.h"
#include "managers/MessageMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/SpeakerMgr.h"
#include "platform/Led.h"
#include "platform/Mosutil.h"
#include "platform/Notify.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/Text.h"

using platform::TimeOfDay;

namespace {

constexpr std::size_t kSummaryChars = 99;
constexpr std::size_t kDescriptionChars = 299;
constexpr const char* kRingScriptKey = "ControlPanel\\Sounds\\RingTone0";
constexpr const char* kRingScriptValue = "Script";
constexpr const char* kRingVolumeKey = "ControlPanel\\SoundCategories\\Ring";
constexpr const char* kRingVolumeValue = "InitVol";
constexpr int kLockTimerParam = 0;

std::mutex g_instanceMutex;
std::atomic<CScheduleEngine*> g_instance{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

CRegistrySettings* Settings() {
  return CRegistrySettings::Instance();
}

CDB* Db() {
  CDB* db = CDB::GetInstance();
  if (!db)
    throw CBaseException("CScheduleEngine: no database");
  return db;
}

TimeOfDay Now() {
  return TimeOfDay(platform::Clock::LocalTime());
}

}  // namespace

// The actions of a run that wait for its end: phone radio, call forwarding, power state.
struct CScheduleEngine::Deferred {
  CMgr* phone = nullptr;
  int phoneCommand = 0;
  CMgr* forward = nullptr;
  int forwardCommand = 0;
  std::string forwardNumber;
  CMgr* power = nullptr;
  int powerState = 0;
};

// ---- Creation ----------------------------------------------------------------------------

CScheduleEngine* CScheduleEngine::Instance() {
  std::lock_guard lock(g_instanceMutex);
  if (!g_instance.load())
    g_instance.store(new CScheduleEngine());
  return g_instance.load();
}

CScheduleEngine* CScheduleEngine::GetInstance() {
  return g_instance.load();
}

void CScheduleEngine::DestroyInstance() {
  std::lock_guard lock(g_instanceMutex);
  CScheduleEngine* engine = g_instance.exchange(nullptr);
  if (!engine)
    return;
  engine->Shutdown();
  // A manager that copied its listener list just before the engine left it may still call it:
  // the stopped engine stays allocated, refusing every command, until the process ends.
  static std::vector<std::unique_ptr<CScheduleEngine, Deleter>> retired;
  retired.emplace_back(engine);
}

void CScheduleEngine::Deleter::operator()(CScheduleEngine* engine) const {
  delete engine;
}

ScheduleEngineHooks CScheduleEngine::DefaultHooks() {
  ScheduleEngineHooks hooks;
  hooks.setVolumeLevel = [](CMgr* mgr, int level) {
    if (auto* speaker = dynamic_cast<CSpeakerMgr*>(mgr))
      speaker->SetVolumeLevel(level);
  };
  hooks.setForwardNumber = [](CMgr* mgr, const std::string& number) {
    if (auto* forward = dynamic_cast<CCallForwardMgr*>(mgr))
      forward->SetForwardNumber(number);
  };
  hooks.bandForceSwitch = [] {
    auto* band = dynamic_cast<CBandMgr*>(CMgr::GetMgr(MGR_ID_BAND));
    return band && band->GetForceSwitch();
  };
  hooks.phoneManualOff = [] {
    auto* phone = dynamic_cast<CMobilePhoneMgr*>(CMgr::GetMgr(MGR_ID_PHONE));
    return phone && phone->GetManualOff() != 0;
  };
  hooks.sendSms = [](const std::string& number, const std::string& text) {
    if (auto* messages = dynamic_cast<CMessageMgr*>(CMgr::GetMgr(MGR_ID_MESSAGE)))
      messages->SendSms(number, text);
    else
      Trace(TRACE_WARNING, "CScheduleEngine: no messaging manager for the SMS action");
  };
  hooks.sendMail = [](const std::string& to, const std::string& subject, const std::string& body,
                      int account) {
    if (auto* messages = dynamic_cast<CMessageMgr*>(CMgr::GetMgr(MGR_ID_MESSAGE)))
      messages->SendMail(to, subject, body, account);
    else
      Trace(TRACE_WARNING, "CScheduleEngine: no messaging manager for the e-mail action");
  };
  return hooks;
}

CScheduleEngine::CScheduleEngine() : WorkerThread(STOP_AT_ONCE), hooks_(DefaultHooks()) {
  SetName("CScheduleEngine");
  for (int id : {MGR_ID_RIL, MGR_ID_PHONE}) {
    if (CMgr* mgr = CMgr::GetMgr(id)) {
      mgr->AddStatusListener(this);
      listeningTo_.push_back(mgr);
    }
  }
  Start();
}

CScheduleEngine::~CScheduleEngine() {
  Shutdown();
}

void CScheduleEngine::Shutdown() {
  for (CMgr* mgr : listeningTo_) {
    if (CMgr::GetMgr(mgr->GetId()) == mgr)
      mgr->RemoveStatusListener(this);
  }
  listeningTo_.clear();
  {
    std::lock_guard lock(threadsMutex_);
    stopping_ = true;
  }
  stopCv_.notify_all();
  Stop();
  std::vector<ActionThread> threads;
  {
    std::lock_guard lock(threadsMutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads)
    t.thread.join();
}

void CScheduleEngine::SetHooks(ScheduleEngineHooks hooks) {
  std::lock_guard lock(stateMutex_);
  hooks_ = std::move(hooks);
}

void CScheduleEngine::SetRecheckWaits(int firstMs, int secondMs) {
  recheckFirstMs_.store(firstMs);
  recheckSecondMs_.store(secondMs);
}

// ---- Time ranges -------------------------------------------------------------------------

bool CScheduleEngine::IsWholeDay(const CStrPeriod& range) {
  return range.GetStartTime() == range.GetEndTime();
}

bool CScheduleEngine::Contains(const CStrPeriod& range, const TimeOfDay& t, bool inclusive) {
  TimeOfDay start = range.GetStartTime();
  TimeOfDay end = range.GetEndTime();
  if (start < end)
    return inclusive ? (start <= t && t < end) : (start < t && t <= end);
  // Wrapping past midnight, or the whole day.
  return inclusive ? (t >= start || t < end) : (t > start || t < end);
}

bool CScheduleEngine::ContainsRange(const CStrPeriod& a, const CStrPeriod& b) {
  return Contains(a, b.GetStartTime(), true) && Contains(a, b.GetEndTime(), false);
}

bool CScheduleEngine::Intersects(const CStrPeriod& a, const CStrPeriod& b) {
  return IsWholeDay(a) || IsWholeDay(b) || Contains(a, b.GetStartTime(), true) ||
         Contains(a, b.GetEndTime(), false) || ContainsRange(b, a);
}

// ---- Frame lookup ------------------------------------------------------------------------

std::int32_t CScheduleEngine::FindFrameId(int hour, int minute, std::int32_t placeId) {
  std::vector<CStrPeriod> frames;
  Db()->GetTablePeriods()->GetAllRecordsForPlace(&frames, placeId);
  TimeOfDay t(hour, minute);
  for (const CStrPeriod& f : frames) {
    if (Contains(f, t, true))
      return f.GetId();
  }
  return -1;
}

bool CScheduleEngine::FindFrameForTime(CStrPeriod* frame, std::int32_t placeId) {
  TimeOfDay now = Now();
  std::int32_t id = FindFrameId(now.Hour, now.Minute, placeId);
  if (id == -1)
    return false;
  CStrPeriod found;
  found.SetId(id);
  if (!Db()->GetTablePeriods()->FindAndFill(found))
    return false;
  *frame = found;
  return true;
}

bool CScheduleEngine::GetNextFrame(CStrPeriod* frame, std::int32_t placeId) {
  std::vector<CStrPeriod> frames;
  Db()->GetTablePeriods()->GetAllRecordsForPlace(&frames, placeId);
  if (frames.empty())
    return false;
  if (frames.size() == 1) {
    *frame = frames.front();
    return true;
  }
  std::stable_sort(frames.begin(), frames.end());
  TimeOfDay now = Now();
  for (const CStrPeriod& f : frames) {
    if (f.GetStartTime() > now) {
      *frame = f;
      return true;
    }
  }
  *frame = frames.front();
  return true;
}

bool CScheduleEngine::GetCurrentFrame(CStrPeriod* frame) {
  CRilMgr* ril = CRilMgr::GetInstance();
  CStrPlace place;
  if (!ril || !ril->GetCurrentPlace(&place))
    return false;
  return FindFrameForTime(frame, place.GetId());
}

// ---- State -------------------------------------------------------------------------------

std::int32_t CScheduleEngine::CurrentFrameId() {
  std::lock_guard lock(stateMutex_);
  return currentFrame_.GetId();
}

void CScheduleEngine::SetCurrentFrame(const CStrPeriod& frame) {
  std::lock_guard lock(stateMutex_);
  currentFrame_ = frame;
}

void CScheduleEngine::ClearCurrentFrame() {
  std::lock_guard lock(stateMutex_);
  currentFrame_.SetId(-1);
}

CStrPeriod CScheduleEngine::GetCurrentFrameRef() {
  std::lock_guard lock(stateMutex_);
  return currentFrame_;
}

CStrPlace CScheduleEngine::GetLockedPlace() {
  std::lock_guard lock(stateMutex_);
  return lockedPlace_;
}

CPerfCounter& CScheduleEngine::StartPeriodCounter() {
  static CPerfCounter counter;
  return counter;
}

bool CScheduleEngine::ManualMode() {
  return Settings()->GetDWORD(kManualModeKey) != 0;
}

// ---- Notifications -----------------------------------------------------------------------

void CScheduleEngine::ClearFrameNotification() {
  timernotification::Clear(CLimitNotifications::Take(MGR_ID_SCHEDULE_PERIOD));
  notificationHandle_.store(0);
}

void CScheduleEngine::SetPeriodNotification(int kind, int hour, int minute) {
  Trace(TRACE_TRACE, "CScheduleEngine::SetPeriodNotification(%d,%02d:%02d)", kind, hour, minute);
  ClearFrameNotification();
  platform::SYSTEMTIME now = platform::Clock::LocalTime();
  platform::SYSTEMTIME at = now;
  at.wHour = static_cast<platform::WORD>(hour);
  at.wMinute = static_cast<platform::WORD>(minute);
  at.wSecond = 0;
  at.wMilliseconds = 0;
  // The next such time strictly after now: a boundary at the present minute is tomorrow's, or
  // the notification would fire at once and run the same boundary again.
  if (platform::SystemTimeToMs(at) <= platform::SystemTimeToMs(now)) {
    platform::SYSTEMTIME tomorrow;
    if (platform::DT_AddDiff(&tomorrow, platform::DT_DAY, 1, at))
      at = tomorrow;
  }
  platform::CE_NOTIFICATION_TRIGGER trigger;
  trigger.lpszApplication = platform::Utf8Truncate(timernotification::ProgramPath(), 260);
  trigger.lpszArguments = timernotification::TimerArgument(MGR_ID_SCHEDULE_PERIOD, kind);
  trigger.stStartTime = at;
  platform::HNOTIFY handle = platform::CeSetUserNotificationEx(0, trigger);
  notificationHandle_.store(handle);
  CLimitNotifications::Set(MGR_ID_SCHEDULE_PERIOD, handle);
  if (CApp* app = CApp::GetInstance()) {
    if (IMainWindow* window = app->GetMainWindow())
      window->RefreshNotificationDiagnostics();
  }
}

void CScheduleEngine::SetLockTimeLimit(int minutes) {
  timernotification::Clear(CLimitNotifications::Take(MGR_ID_SCHEDULE_LOCK));
  if (minutes <= 0)
    return;
  platform::HNOTIFY handle = timernotification::Register(
      timernotification::TimerArgument(MGR_ID_SCHEDULE_LOCK, kLockTimerParam), platform::DT_MINUTE,
      minutes);
  CLimitNotifications::Set(MGR_ID_SCHEDULE_LOCK, handle);
}

// ---- Events ------------------------------------------------------------------------------

void CScheduleEngine::StatusChanged(int value, int mgrId, int arg) {
  if (mgrId != MGR_ID_RIL || (arg != CRilMgr::REASON_LOCATION && arg != CMgr::REASON_REFRESH))
    return;
  auto* record = new StatusChangedRecord{value, mgrId, arg};
  PostCommand(CMD_STATUS_CHANGED, NO_TIME_LIMIT, reinterpret_cast<std::intptr_t>(record));
}

void CScheduleEngine::DispatchTimerNotification(int id, int param) {
  if (id == MGR_ID_SCHEDULE_PERIOD || id == MGR_ID_SCHEDULE_LOCK)
    OnTimedNotification(id, param);
}

void CScheduleEngine::OnTimedNotification(int kind, int param) {
  Trace(TRACE_TRACE, "CScheduleEngine::OnTimedNotification(%d,%d)", kind, param);
  if (ManualMode())
    return;
  if (kind == MGR_ID_SCHEDULE_PERIOD) {
    int value = 1;
    if (param == KIND_FRAME_END) {
      // The frame is over: leave it. It is no longer in force, so the evaluation below enters
      // whatever applies now, the same frame again included (a whole-day frame at midnight).
      std::int32_t current = CurrentFrameId();
      if (current != -1)
        QueueCommand(CMD_END, current);
      ClearCurrentFrame();
      value = 0;
    }
    if (locked_.load()) {
      // A locked engine follows the locked place's frames, whatever the location.
      PostCommand(CMD_LOCK, NO_TIME_LIMIT, 1);
      return;
    }
    if (CRilMgr::PhoneRadioOn()) {
      lastCode_.store(kForceEvaluationCode);
    } else if (param == KIND_NEXT_START) {
      reevaluateFromLastPlace_.store(1);
    } else {
      reevaluateAlways_.store(1);
    }
    StatusChanged(value, MGR_ID_RIL, CRilMgr::REASON_LOCATION);
  } else if (kind == MGR_ID_SCHEDULE_LOCK) {
    EndLock();
  }
}

void CScheduleEngine::ChangeInDB() {
  Trace(TRACE_TRACE, "CScheduleEngine::ChangeInDB");
  CCellHistory::Instance()->InvalidatePlaces();
  lastCode_.store(kForceEvaluationCode);
  ClearCurrentFrame();
  StatusChanged(0, MGR_ID_RIL, CRilMgr::REASON_LOCATION);
}

// ---- Lock --------------------------------------------------------------------------------

void CScheduleEngine::LockToPlace(const CStrPlace& place) {
  Trace(TRACE_TRACE, "CScheduleEngine::LockToPlace(%d)", place.GetId());
  {
    std::lock_guard lock(stateMutex_);
    lockedPlace_ = place;
  }
  locked_.store(true);
  // The rest runs on the worker, in order with the evaluations already queued.
  PostCommand(CMD_LOCK, NO_TIME_LIMIT, 0);
}

void CScheduleEngine::SetLocked(bool locked) {
  if (!locked && locked_.exchange(false)) {
    std::int32_t current = CurrentFrameId();
    if (current != -1)
      QueueCommand(CMD_END, current);
    return;
  }
  locked_.store(locked);
}

void CScheduleEngine::EndLock() {
  if (!locked_.load())
    return;
  Trace(TRACE_TRACE, "CScheduleEngine::EndLock");
  std::int32_t current = CurrentFrameId();
  if (current != -1)
    QueueCommand(CMD_END, current);
  locked_.store(false);
  timernotification::Clear(CLimitNotifications::Take(MGR_ID_SCHEDULE_LOCK));
  if (CRilMgr* ril = CRilMgr::GetInstance())
    ril->RefreshStatus(1);
  ChangeInDB();
  Repaint();
}

bool CScheduleEngine::GetLockCandidate(CStrPlace* place) {
  if (CRilMgr* ril = CRilMgr::GetInstance()) {
    if (ril->GetCurrentPlace(place))
      return true;
  }
  CDB* db = CDB::GetInstance();
  if (!db)
    return false;
  std::vector<CStrPlace> places;
  db->GetTablePlaces()->GetAllRecords(&places);
  if (places.empty())
    return false;
  *place = places.front();
  return true;
}

void CScheduleEngine::RunLock() {
  ClearFrameNotification();
  lastCode_.store(0);
  std::int32_t current = CurrentFrameId();
  if (current != -1)
    QueueCommand(CMD_END, current);
  FollowLockedPlace();
}

void CScheduleEngine::FollowLockedPlace() {
  std::int32_t placeId = GetLockedPlace().GetId();
  CStrPeriod frame;
  if (FindFrameForTime(&frame, placeId)) {
    EnterFrame(frame);
  } else {
    ClearCurrentFrame();
    ArmNextFrame(placeId);
  }
}

// ---- Worker ------------------------------------------------------------------------------

void CScheduleEngine::QueueCommand(int command, std::intptr_t param) {
  PostCommandUnique(command, NO_TIME_LIMIT, param);
}

void CScheduleEngine::HandleCommandWorkerThread(int command, std::intptr_t param) {
  Trace(TRACE_TRACE, "CScheduleEngine::HandleCommand(%d)", command);
  switch (command) {
    case CMD_START:
      StartPeriod(false, CurrentFrameId());
      break;
    case CMD_END:
      StartPeriod(true, static_cast<std::int32_t>(param));
      break;
    case CMD_STATUS_CHANGED: {
      std::unique_ptr<StatusChangedRecord> record(reinterpret_cast<StatusChangedRecord*>(param));
      if (!record)
        throw CBaseException("Se envio un comando status_changed sin parametro");
      StatusChangedAsync(record->value, record->mgrId, record->arg);
      break;
    }
    case CMD_LOCK:
      if (param == 0)
        RunLock();
      else
        FollowLockedPlace();
      break;
    default:
      Trace(TRACE_WARNING, "CScheduleEngine::HandleCommand unknown command %d", command);
      break;
  }
}

void CScheduleEngine::DiscardCommand(int command, std::intptr_t param) {
  if (command == CMD_STATUS_CHANGED)
    delete reinterpret_cast<StatusChangedRecord*>(param);
}

// ---- Evaluation --------------------------------------------------------------------------

std::int32_t CScheduleEngine::PlaceForReevaluation() {
  std::int32_t last = lastCode_.load();
  if (last > 0)
    return locationlookup::PlaceIdOfCode(last).value_or(0);
  return static_cast<std::int32_t>(Settings()->GetDWORD(kLastPlaceKey));
}

void CScheduleEngine::EnterFrame(const CStrPeriod& frame) {
  SetCurrentFrame(frame);
  SetPeriodNotification(KIND_FRAME_END, frame.GetEnd().wHour, frame.GetEnd().wMinute);
  AwakeForActions();
  QueueCommand(CMD_START, 0);
}

void CScheduleEngine::ArmNextFrame(std::int32_t placeId) {
  CStrPeriod next;
  if (GetNextFrame(&next, placeId))
    SetPeriodNotification(KIND_NEXT_START, next.GetStart().wHour, next.GetStart().wMinute);
}

void CScheduleEngine::StatusChangedAsync(int value, int mgrId, int arg) {
  Trace(TRACE_TRACE, "CScheduleEngine::StatusChangedAsync(%d,%d,%d)", value, mgrId, arg);
  const bool locationChange = mgrId == MGR_ID_RIL && arg == CRilMgr::REASON_LOCATION;
  if (locationChange && ManualMode()) {
    Trace(TRACE_DEBUG, "CScheduleEngine: manual profile mode");
    return;
  }
  if (locationChange && locked_.load()) {
    Trace(TRACE_DEBUG, "CScheduleEngine: locked to a place");
    return;
  }

  // Wake-ups while the radio was off: the place cannot come from the radio.
  if (reevaluateFromLastPlace_.exchange(0)) {
    std::int32_t placeId = PlaceForReevaluation();
    CStrPeriod frame;
    if (FindFrameForTime(&frame, placeId)) {
      if (frame.GetId() != CurrentFrameId())
        EnterFrame(frame);
    } else {
      platform::TextBox(0,
                        Text("NO FRAME FOR PLACE WITH PHONE OFF") + " " + std::to_string(placeId));
    }
    return;
  }
  if (reevaluateAlways_.exchange(0)) {
    std::int32_t placeId = PlaceForReevaluation();
    CStrPeriod frame;
    if (FindFrameForTime(&frame, placeId)) {
      EnterFrame(frame);
    } else {
      ClearCurrentFrame();
      ArmNextFrame(placeId);
    }
    return;
  }
  if (!locationChange)
    return;
  CRilMgr* ril = CRilMgr::GetInstance();
  if (!ril)
    return;

  if (!CRilMgr::PhoneRadioOn()) {
    // The position stays; right after start the last place still gives a frame.
    std::int32_t lastPlace = static_cast<std::int32_t>(Settings()->GetDWORD(kLastPlaceKey));
    if (lastCode_.load() == -1 && lastPlace != 0) {
      CStrPeriod frame;
      if (FindFrameForTime(&frame, lastPlace)) {
        if (frame.GetId() != CurrentFrameId())
          EnterFrame(frame);
      } else {
        ArmNextFrame(lastPlace);
      }
    }
    return;
  }

  bool bandSwitch = false;
  bool manualOff = false;
  {
    ScheduleEngineHooks hooks;
    {
      std::lock_guard lock(stateMutex_);
      hooks = hooks_;
    }
    bandSwitch = hooks.bandForceSwitch && hooks.bandForceSwitch();
    manualOff = hooks.phoneManualOff && hooks.phoneManualOff();
  }
  Trace(TRACE_TRACE, "Flag(%d,%d)", bandSwitch ? 1 : 0, manualOff ? 1 : 0);
  if (bandSwitch || manualOff)
    return;

  std::int32_t code = ril->GetLocationCode();
  const std::int32_t old = lastCode_.load();
  if (code == old) {
    LearnCell();
    return;
  }
  std::optional<std::int32_t> oldPlace = locationlookup::PlaceIdOfCode(old);
  std::optional<std::int32_t> newPlace = locationlookup::PlaceIdOfCode(code);
  if (oldPlace && !newPlace) {
    // Leaving a known place is often a short hop to a foreign cell: ask again before acting.
    if (!Pause(recheckFirstMs_.load()))
      return;
    ril->RequestCellTowerInfo();
    if (!Pause(recheckSecondMs_.load()))
      return;
    Repaint();
    code = ril->GetLocationCode();
    newPlace = locationlookup::PlaceIdOfCode(code);
  }
  lastCode_.store(code);

  CStrPeriod inForce;
  if (GetCurrentFrame(&inForce) && inForce.GetId() == CurrentFrameId()) {
    Trace(TRACE_TRACE, "No hay cambio de periodo");
    return;
  }
  if (!oldPlace && !newPlace && code != 0)
    return;
  std::int32_t current = CurrentFrameId();
  if (current != -1 && value != 0)
    QueueCommand(CMD_END, current);
  ClearFrameNotification();

  std::int32_t placeId = CTablePlaces::kUnknownPlaceId;
  if (newPlace) {
    if (locationlookup::FindPlace(*newPlace)) {
      placeId = *newPlace;
    } else {
      // The location belongs to a place that is gone: forget the location.
      std::unique_ptr<CStrLocation> location = CStrLocation::NewLocation();
      location->SetCode(code);
      Db()->GetTableLocation()->Delete(*location);
      platform::TextBox(0, FormatText(Text("LAC ASSIGNED BUT NO PLACE"),
                                      {std::to_string(static_cast<std::uint32_t>(ril->GetCellId())),
                                       std::to_string(static_cast<std::uint32_t>(ril->GetLac()))}));
      ClearCurrentFrame();
    }
  } else {
    ClearCurrentFrame();
  }
  Settings()->SetDWORD(kLastPlaceKey, static_cast<platform::DWORD>(placeId));

  CStrPeriod frame;
  if (FindFrameForTime(&frame, placeId)) {
    if (frame.GetId() != CurrentFrameId() || old == 0)
      EnterFrame(frame);
  } else {
    // No frame in force here; the one left must be entered again when the user comes back.
    ClearCurrentFrame();
    ArmNextFrame(placeId);
  }
}

void CScheduleEngine::LearnCell() {
  if (CStrLocation::IsCellMode() || Settings()->GetDWORD(kIntelligentLacKey) == 0)
    return;
  CRilMgr* ril = CRilMgr::GetInstance();
  if (!ril)
    return;
  std::optional<std::int32_t> placeId = locationlookup::PlaceIdOfCode(ril->GetLac());
  std::int32_t cellId = ril->GetCellId();
  if (!placeId || cellId == 0)
    return;
  CTableCell* cells = Db()->GetTableCell();
  CStrCell known;
  known.SetCode(cellId);
  if (cells->FindAndFill(known))
    return;
  CStrCell learned(cellId, *placeId);
  cells->Insert(learned);
  Trace(TRACE_DEBUG, "CScheduleEngine: cell %d learned for place %d", cellId, *placeId);
}

// ---- Running a frame ---------------------------------------------------------------------

void CScheduleEngine::Record(int level, const std::string& summary,
                             const std::string& description) {
  CEventLog::Add(kEventLogCode, level, platform::Utf8Truncate(summary, kSummaryChars),
                 platform::Utf8Truncate(description, kDescriptionChars));
}

void CScheduleEngine::AwakeForActions() {
  if (Settings()->GetDWORD(kAwakeToExecuteKey) != 0)
    platform::SetSystemPowerState("", platform::POWER_STATE_ON, platform::POWER_FORCE);
}

void CScheduleEngine::Publish(const std::string& place, const std::string& frame) {
  CApp* app = CApp::GetInstance();
  if (IMainWindow* window = app ? app->GetMainWindow() : nullptr) {
    window->PublishPlace(place, frame);
    return;
  }
  // Without a window the values are still kept for the home-screen item.
  Settings()->SetString(kCurrentPlaceKey, place);
  Settings()->SetString(kCurrentFrameKey, frame);
}

void CScheduleEngine::Repaint() {
  std::function<void()> repaint;
  {
    std::lock_guard lock(stateMutex_);
    repaint = hooks_.repaintMainWindow;
  }
  if (repaint)
    repaint();
}

void CScheduleEngine::StartPeriod(bool isEnd, std::int32_t frameId) {
  CStopwatch watch;
  watch.Start();
  Trace(TRACE_TRACE, "CScheduleEngine::StartPeriod(%d,%d)", isEnd ? 1 : 0, frameId);
  CDB* db = Db();
  CRilMgr* ril = CRilMgr::GetInstance();
  CStrPlace locationPlace;
  bool locationKnown = ril && ril->GetCurrentPlace(&locationPlace);
  std::vector<CStrAction> actions;
  db->GetTableActions()->GetAllForPeriod(&actions, frameId);
  std::stable_sort(actions.begin(), actions.end(),
                   [](const CStrAction& a, const CStrAction& b) { return a.GetId() < b.GetId(); });
  runCount_.fetch_add(1);

  if ((isEnd ? 1 : 0) == lastRunIsEnd_.load() && frameId == lastRunFrameId_.load()) {
    std::string skip = Text("EVENT_LOG_MGR_SKIP_SCHEDULE");
    Record(CEventLog::LEVEL_WARNING, skip, skip);
    return;
  }

  CStrPeriod frame;
  frame.SetId(frameId);
  db->GetTablePeriods()->FindAndFill(frame);
  CStrPlace framePlace = locationlookup::FindPlace(frame.GetIdPlace()).value_or(CStrPlace());
  std::string label;
  if (!isEnd) {
    CStrPeriod current = GetCurrentFrameRef();
    label = platform::FormatLimited(kFrameLabelChars, "%s(%02d:%02d-%02d:%02d)",
                                    current.GetName().c_str(), current.GetStart().wHour,
                                    current.GetStart().wMinute, current.GetEnd().wHour,
                                    current.GetEnd().wMinute);
  }
  std::string count = std::to_string(actions.size());
  Record(CEventLog::LEVEL_INFO,
         FormatText(Text(isEnd ? "EVENT_LOG_MGR_END_SCHEDULE_RESUME"
                               : "EVENT_LOG_MGR_START_SCHEDULE_RESUME"),
                    {framePlace.GetName(), frame.GetName(), count}),
         FormatText(Text(isEnd ? "EVENT_LOG_MGR_END_SCHEDULE_DESCRIPTION"
                               : "EVENT_LOG_MGR_START_SCHEDULE_DESCRIPTION"),
                    {framePlace.GetName(), frame.GetName(), count}));

  // While locked, the place in force is the locked one.
  std::string placeName =
      locked_.load() ? GetLockedPlace().GetName() : (locationKnown ? locationPlace.GetName() : "");
  Publish(placeName, label);

  std::optional<CStrAction> led =
      db->GetTableActions()->FindOrCreate(frameId, ACTION_LED, false, isEnd ? 1 : 0);
  AwakeForActions();
  if (led && led->GetIntOp1() != 0 && led->IsEnabled() && led->IsActiveToday()) {
    Spawn([this] {
      platform::NLED_SETTINGS_INFO on;
      on.LedNum = kLedNumber;
      on.OffOnBlink = platform::NLED_ON;
      platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &on);
      Pause(kLedBlinkMs);
      platform::NLED_SETTINGS_INFO off = on;
      off.OffOnBlink = platform::NLED_OFF;
      platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &off);
    });
  }

  Deferred deferred;
  for (const CStrAction& action : actions) {
    if (action.GetType() == (isEnd ? 1 : 0))
      RunAction(action, &deferred);
  }
  RunDeferred(deferred);

  lastRunIsEnd_.store(isEnd ? 1 : 0);
  lastRunFrameId_.store(frameId);
  Repaint();
  watch.Stop();
  StartPeriodCounter().Add(watch.Elapsed() * 1000.0);
}

void CScheduleEngine::RunAction(const CStrAction& action, Deferred* deferred) {
  CMgr* mgr = CMgr::GetMgr(action.GetMgrId());
  if (!action.IsEnabled() || !action.IsActiveToday()) {
    std::string name = mgr ? mgr->GetName() : "";
    Record(CEventLog::LEVEL_INFO, FormatText(Text("EVENT_LOG_MGR_ACTION_SKIPPED_RESUME"), {name}),
           FormatText(Text("EVENT_LOG_MGR_ACTION_SKIPPED_DESCRIPTION"), {name}));
    return;
  }
  ScheduleEngineHooks hooks;
  {
    std::lock_guard lock(stateMutex_);
    hooks = hooks_;
  }
  if (mgr) {
    switch (action.GetMgrId()) {
      case MGR_ID_PHONE:
        deferred->phone = mgr;
        deferred->phoneCommand = action.GetIntOp1();
        break;
      case MGR_ID_CPU:
        deferred->power = mgr;
        deferred->powerState = action.GetIntOp1();
        break;
      case MGR_ID_CALL_FORWARD:
        deferred->forward = mgr;
        deferred->forwardCommand = action.GetIntOp1();
        deferred->forwardNumber = action.GetSzOp1();
        break;
      case MGR_ID_SPEAKER:
        if (hooks.setVolumeLevel)
          hooks.setVolumeLevel(mgr, action.GetIntOp3());
        mgr->ForceStatus(action.GetIntOp1(), 0, 0, 0);
        break;
      default:
        mgr->ForceStatus(action.GetIntOp1(), 0, 0, 0);
        break;
    }
    return;
  }
  switch (action.GetMgrId()) {
    case ACTION_OPEN_FILE:
      Spawn([this, file = action.GetSzOp1()] {
        platform::SHELLEXECUTEINFO info;
        info.fMask = platform::SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = "Open";
        info.lpFile = file;
        if (!platform::ShellExecuteEx(&info))
          Trace(TRACE_WARNING, "CScheduleEngine: the file %s could not be opened", file.c_str());
        Record(CEventLog::LEVEL_INFO,
               FormatText(Text("EVENT_LOG_MGR_ACTION_OPEN_FILE_RESUME"), {file}),
               FormatText(Text("EVENT_LOG_MGR_ACTION_OPEN_FILE_DESCRIPTION"), {file}));
      });
      break;
    case ACTION_THEME:
      Spawn([this, theme = action.GetSzOp1()] {
        Record(CEventLog::LEVEL_INFO,
               FormatText(Text("EVENT_LOG_MGR_ACTION_THEME_RESUME"), {theme}),
               FormatText(Text("EVENT_LOG_MGR_ACTION_THEME_DESCRIPTION"), {theme}));
        if (!platform::SelectTodayTheme(theme))
          Trace(TRACE_WARNING, "CScheduleEngine: no theme %s", theme.c_str());
      });
      break;
    case ACTION_RING_TONE:
      Spawn([this, sound = action.GetSzOp1(), script = action.GetSzOp2(),
             volume = action.GetIntOp1()] {
        if (platform::SetRingToneLine1(sound) != platform::S_OK)
          Trace(TRACE_WARNING, "CScheduleEngine: the ring tone %s was refused", sound.c_str());
        if (!script.empty()) {
          platform::RegistrySetString(platform::HKEY_CURRENT_USER, kRingScriptKey, kRingScriptValue,
                                      script);
        }
        if (volume >= 1 && volume <= 5) {
          platform::RegistrySetDWORD(platform::HKEY_CURRENT_USER, kRingVolumeKey, kRingVolumeValue,
                                     static_cast<platform::DWORD>(volume));
        }
        Record(CEventLog::LEVEL_INFO,
               FormatText(Text("EVENT_LOG_MGR_ACTION_RING_TONE_RESUME"), {sound}),
               FormatText(Text("EVENT_LOG_MGR_ACTION_RING_TONE_DESCRIPTION"),
                          {sound, script, std::to_string(volume)}));
      });
      break;
    case ACTION_MAIL:
      if (hooks.sendMail) {
        hooks.sendMail(action.GetSzOp1(), action.GetSzOp2(), action.GetSzOp3(),
                       static_cast<int>(Settings()->GetDWORD(kMailProviderKey)));
      }
      break;
    case ACTION_SMS:
      if (hooks.sendSms)
        hooks.sendSms(action.GetSzOp1(), action.GetSzOp3());
      break;
    default:
      break;  // the LED (run above) and identifiers of managers that do not exist
  }
}

void CScheduleEngine::RunDeferred(const Deferred& d) {
  std::function<void(CMgr*, const std::string&)> setNumber;
  {
    std::lock_guard lock(stateMutex_);
    setNumber = hooks_.setForwardNumber;
  }
  auto storeNumber = [&] {
    if (setNumber)
      setNumber(d.forward, d.forwardNumber);
  };
  if (d.phone && d.forward) {
    if (d.phoneCommand == 0) {
      // The radio comes on first; forwarding needs the network, so it waits for it.
      d.phone->ForceStatus(0, 0, 0, 0);
      storeNumber();
      d.forward->ForceStatus(d.forwardCommand, 0, 0, kForwardAfterRadioOnDelayMs);
    } else {
      storeNumber();
      d.forward->ForceStatus(d.forwardCommand, 0, 0, 0);
      d.phone->ForceStatus(d.phoneCommand, 0, kRadioAfterForwardParam, 0);
    }
  } else if (d.phone) {
    d.phone->ForceStatus(d.phoneCommand, 0, 0, 0);
  } else if (d.forward) {
    storeNumber();
    d.forward->ForceStatus(d.forwardCommand, 0, 0, 0);
  }
  if (d.power) {
    d.power->ForceStatus(d.powerState, 0, 0, d.powerState == kResetPowerState ? kResetDelayMs : 0);
  }
}

// ---- Frames being edited -----------------------------------------------------------------

bool CScheduleEngine::AddPeriod(const CStrPeriod& period) {
  return CheckPeriod(period, true);
}

bool CScheduleEngine::UpdatePeriod(const CStrPeriod& period) {
  return CheckPeriod(period, false);
}

bool CScheduleEngine::CheckPeriod(const CStrPeriod& period, bool isNew) {
  std::vector<CStrPeriod> frames;
  Db()->GetTablePeriods()->GetAllRecordsForPlace(&frames, period.GetIdPlace());
  if (!isNew)
    std::erase_if(frames, [&](const CStrPeriod& f) { return f.GetId() == period.GetId(); });
  if (isNew && !frames.empty() && IsWholeDay(period)) {
    platform::TextBox(0, Text("FRAME 24 NOT POSSIBLE"));
    return false;
  }
  for (const CStrPeriod& e : frames) {
    if (!Intersects(e, period))
      continue;
    // A frame that would be split into nothing (the same span) is an overlap, not a split.
    bool sameSpan =
        e.GetStartTime() == period.GetStartTime() && e.GetEndTime() == period.GetEndTime();
    if (!ContainsRange(e, period) || sameSpan) {
      platform::TextBox(0, FormatText(Text("PERIOD INTERSECTS"), {e.GetName()}));
      return false;
    }
    if (!platform::QuestionBox(0, FormatText(Text("CONFIRM PERIOD SPLIT"), {e.GetName()})))
      return false;
    SplitPeriod(e, period);
  }
  return true;
}

void CScheduleEngine::SplitPeriod(const CStrPeriod& outer, const CStrPeriod& inner) {
  CDB* db = Db();
  CTablePeriods* periods = db->GetTablePeriods();
  CTableActions* actionsTable = db->GetTableActions();
  const bool head = outer.GetStartTime() != inner.GetStartTime();
  const bool tail = inner.GetEndTime() != outer.GetEndTime();
  CDB::Transaction transaction(*db);
  if (head && tail) {
    // The frame keeps its start and ends where the new one starts; a copy with its actions
    // takes the part after the new one.
    CStrPeriod first = outer;
    first.SetEnd(inner.GetStart().wHour, inner.GetStart().wMinute);
    periods->Update(first);
    CStrPeriod second = outer;
    second.SetOid(0);
    second.SetId(-1);
    second.SetStart(inner.GetEnd().wHour, inner.GetEnd().wMinute);
    periods->Insert(second);
    std::vector<CStrAction> actions;
    actionsTable->GetAllForPeriod(&actions, outer.GetId());
    for (CStrAction action : actions) {
      action.SetOid(0);
      action.SetId(-1);
      action.SetIdPeriod(second.GetId());
      actionsTable->Insert(action);
    }
  } else {
    // The new frame takes one end of this one: what is left keeps the frame and its actions.
    // (Cutting at both ends is refused as an overlap.)
    CStrPeriod rest = outer;
    if (head)
      rest.SetEnd(inner.GetStart().wHour, inner.GetStart().wMinute);
    else
      rest.SetStart(inner.GetEnd().wHour, inner.GetEnd().wMinute);
    periods->Update(rest);
  }
  transaction.Commit();
}

// ---- Action threads ----------------------------------------------------------------------

void CScheduleEngine::Spawn(std::function<void()> work) {
  std::vector<ActionThread> finished;
  {
    std::lock_guard lock(threadsMutex_);
    if (stopping_)
      return;
    // Threads that have ended are joined here, so the list stays short.
    auto ended = std::stable_partition(threads_.begin(), threads_.end(),
                                       [](const ActionThread& t) { return !t.done->load(); });
    std::move(ended, threads_.end(), std::back_inserter(finished));
    threads_.erase(ended, threads_.end());
    auto done = std::make_shared<std::atomic<bool>>(false);
    threads_.push_back({std::thread([work = std::move(work), done] {
                          try {
                            work();
                          } catch (const std::exception& e) {
                            Trace(TRACE_ERROR, "CScheduleEngine action thread: %s", e.what());
                          }
                          done->store(true);
                        }),
                        done});
  }
  for (auto& t : finished)
    t.thread.join();
}

bool CScheduleEngine::Pause(int ms) {
  std::unique_lock lock(threadsMutex_);
  stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
  return !stopping_;
}

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
#include "location/DayTrace.h"
#include "location/LocationLookup.h"
#include "location/RilMgr.h"
#include "location/ScheduleDecision.h"
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
  return schedule::IsWholeDay(range);
}

bool CScheduleEngine::Contains(const CStrPeriod& range, const TimeOfDay& t, bool inclusive) {
  return schedule::Contains(range, t, inclusive);
}

bool CScheduleEngine::ContainsRange(const CStrPeriod& a, const CStrPeriod& b) {
  return schedule::ContainsRange(a, b);
}

bool CScheduleEngine::Intersects(const CStrPeriod& a, const CStrPeriod& b) {
  return schedule::Intersects(a, b);
}

// ---- Frame lookup ------------------------------------------------------------------------

std::vector<CStrPeriod> CScheduleEngine::FramesOf(std::int32_t placeId) {
  std::vector<CStrPeriod> frames;
  Db()->GetTablePeriods()->GetAllRecordsForPlace(&frames, placeId);
  return frames;
}

std::int32_t CScheduleEngine::FindFrameId(int hour, int minute, std::int32_t placeId) {
  auto frame = schedule::FrameAt(FramesOf(placeId), TimeOfDay(hour, minute));
  return frame ? frame->GetId() : -1;
}

bool CScheduleEngine::FindFrameForTime(CStrPeriod* frame, std::int32_t placeId) {
  auto found = schedule::FrameAt(FramesOf(placeId), Now());
  if (!found)
    return false;
  *frame = *found;
  return true;
}

bool CScheduleEngine::GetNextFrame(CStrPeriod* frame, std::int32_t placeId) {
  auto next = schedule::NextFrame(FramesOf(placeId), Now());
  if (!next)
    return false;
  *frame = *next;
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

std::optional<schedule::HeldDeparture> CScheduleEngine::GetHeldDeparture() {
  std::lock_guard lock(stateMutex_);
  return held_;
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
  if (CApp* app = CApp::GetInstance())
    app->WithMainWindow([](IMainWindow* window) { window->RefreshNotificationDiagnostics(); });
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
  StatusChangedRecord* record = nullptr;
  {
    std::lock_guard lock(pendingMutex_);
    if (pending_) {
      // An evaluation is queued and not yet taken. It reads the location when it runs, so the
      // report joins it instead of queueing another: a burst of reports costs one evaluation.
      // A location change outweighs a refresh; a value of 0 (the frame was already left) stays.
      if (value == 0)
        pending_->value = 0;
      if (arg == CRilMgr::REASON_LOCATION)
        pending_->arg = arg;
      record = nullptr;
    } else {
      record = new StatusChangedRecord{value, mgrId, arg};
      pending_ = record;
    }
  }
  if (arg == CRilMgr::REASON_LOCATION) {
    // A recheck under way need not wait any longer: a newer location is there.
    {
      std::lock_guard lock(threadsMutex_);
      newReport_ = true;
    }
    stopCv_.notify_all();
  }
  if (record)
    PostCommand(CMD_STATUS_CHANGED, NO_TIME_LIMIT, reinterpret_cast<std::intptr_t>(record));
}

void CScheduleEngine::DispatchTimerNotification(int id, int param) {
  if (id == MGR_ID_SCHEDULE_PERIOD || id == MGR_ID_SCHEDULE_LOCK)
    OnTimedNotification(id, param);
}

void CScheduleEngine::OnTimedNotification(int kind, int param) {
  Trace(TRACE_TRACE, "CScheduleEngine::OnTimedNotification(%d,%d)", kind, param);
  schedule::TimedInput in;
  in.targetId = kind;
  in.param = param;
  in.manualMode = ManualMode();
  in.locked = locked_.load();
  in.radioOn = CRilMgr::PhoneRadioOn();
  in.currentFrameId = CurrentFrameId();
  schedule::TimedDecision d = schedule::DecideTimed(in);
  if (d.ignore)
    return;
  if (d.endLock) {
    EndLock();
    return;
  }
  if (d.leaveFrameId)
    QueueCommand(CMD_END, *d.leaveFrameId);
  if (d.clearCurrentFrame)
    ClearCurrentFrame();
  if (d.followLockedPlace) {
    ClosePendingEvaluation();
    PostCommand(CMD_LOCK, NO_TIME_LIMIT, 1);
    return;
  }
  if (d.forceEvaluation)
    lastCode_.store(kForceEvaluationCode);
  if (d.setReevaluateFromLastPlace)
    reevaluateFromLastPlace_.store(1);
  if (d.setReevaluateAlways)
    reevaluateAlways_.store(1);
  if (d.evaluateValue)
    StatusChanged(*d.evaluateValue, MGR_ID_RIL, CRilMgr::REASON_LOCATION);
}

void CScheduleEngine::ChangeInDB() {
  Trace(TRACE_TRACE, "CScheduleEngine::ChangeInDB");
  CDayTrace::NoteData();
  Reevaluate();
}

void CScheduleEngine::Reevaluate() {
  CCellHistory::Instance()->InvalidatePlaces();
  lastCode_.store(kForceEvaluationCode);
  ClearCurrentFrame();
  StatusChanged(0, MGR_ID_RIL, CRilMgr::REASON_LOCATION);
}

void CScheduleEngine::TimeChanged() {
  Trace(TRACE_TRACE, "CScheduleEngine::TimeChanged");
  CDayTrace::NoteClock();
  QueueCommand(CMD_TIME_CHANGED, 0);
}

// ---- Lock --------------------------------------------------------------------------------

void CScheduleEngine::LockToPlace(const CStrPlace& place) {
  Trace(TRACE_TRACE, "CScheduleEngine::LockToPlace(%d)", place.GetId());
  {
    std::lock_guard lock(stateMutex_);
    lockedPlace_ = place;
  }
  locked_.store(true);
  CDayTrace::NoteLock(place.GetName());
  // The rest runs on the worker, in order with the evaluations already queued.
  ClosePendingEvaluation();
  PostCommand(CMD_LOCK, NO_TIME_LIMIT, 0);
}

void CScheduleEngine::SetLocked(bool locked) {
  if (!locked && locked_.exchange(false)) {
    CDayTrace::NoteUnlock();
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
  CDayTrace::NoteUnlock();
  std::int32_t current = CurrentFrameId();
  if (current != -1)
    QueueCommand(CMD_END, current);
  locked_.store(false);
  timernotification::Clear(CLimitNotifications::Take(MGR_ID_SCHEDULE_LOCK));
  // Forget the locked frame before asking for the location, so that the report the request
  // brings is evaluated against the cleared state and not cleared again after it entered.
  Reevaluate();
  if (CRilMgr* ril = CRilMgr::GetInstance())
    ril->RefreshStatus(1);
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

void CScheduleEngine::FollowLock(bool start) {
  schedule::LockInput in;
  in.start = start;
  in.currentFrameId = CurrentFrameId();
  in.lockedPlaceFrames = FramesOf(GetLockedPlace().GetId());
  in.time = Now();
  Carry(schedule::DecideLock(in));
}

// ---- Worker ------------------------------------------------------------------------------

void CScheduleEngine::QueueCommand(int command, std::intptr_t param) {
  ClosePendingEvaluation();
  PostCommandUnique(command, NO_TIME_LIMIT, param);
}

void CScheduleEngine::ClosePendingEvaluation() {
  // A report that arrives after this command was queued must be evaluated after it (the end of
  // a lock queues the leaving of the locked frame, then asks for the location): it may no
  // longer join an evaluation queued ahead of the command.
  std::lock_guard lock(pendingMutex_);
  pending_ = nullptr;
}

void CScheduleEngine::HandleCommandWorkerThread(int command, std::intptr_t param) {
  Trace(TRACE_TRACE, "CScheduleEngine::HandleCommand(%d)", command);
  switch (command) {
    case CMD_START: {
      // The frame may have been given up since the enter was queued (a data change or the end
      // of a lock clears it); the evaluation queued behind this command then enters the frame
      // in force, and there is nothing to enter now.
      std::int32_t frameId = CurrentFrameId();
      if (frameId == -1) {
        Trace(TRACE_INFO, "CScheduleEngine::HandleCommand no frame to enter");
        break;
      }
      StartPeriod(false, frameId);
      break;
    }
    case CMD_END:
      StartPeriod(true, static_cast<std::int32_t>(param));
      break;
    case CMD_STATUS_CHANGED: {
      std::unique_ptr<StatusChangedRecord> record(reinterpret_cast<StatusChangedRecord*>(param));
      if (!record)
        throw CBaseException("Se envio un comando status_changed sin parametro");
      StatusChangedRecord taken;
      {
        // From here on a report queues a new evaluation, which will see the location after it.
        std::lock_guard lock(pendingMutex_);
        if (pending_ == record.get())
          pending_ = nullptr;
        taken = *record;
      }
      {
        std::lock_guard lock(threadsMutex_);
        newReport_ = false;
      }
      StatusChangedAsync(taken.value, taken.mgrId, taken.arg);
      break;
    }
    case CMD_LOCK:
      FollowLock(param == 0);
      break;
    case CMD_TIME_CHANGED:
      FollowClock();
      break;
    default:
      Trace(TRACE_WARNING, "CScheduleEngine::HandleCommand unknown command %d", command);
      break;
  }
}

void CScheduleEngine::DiscardCommand(int command, std::intptr_t param) {
  if (command != CMD_STATUS_CHANGED)
    return;
  auto* record = reinterpret_cast<StatusChangedRecord*>(param);
  {
    std::lock_guard lock(pendingMutex_);
    if (pending_ == record)
      pending_ = nullptr;
  }
  delete record;
}

// ---- Evaluation --------------------------------------------------------------------------

schedule::CodeInfo CScheduleEngine::CodeInfoOf(std::int32_t code) {
  schedule::CodeInfo info;
  info.code = code;
  info.placeId = locationlookup::PlaceIdOfCode(code);
  info.placeExists = info.placeId && locationlookup::FindPlace(*info.placeId).has_value();
  return info;
}

schedule::ReportInput CScheduleEngine::GatherReport(int value, int mgrId, int arg, bool rechecked) {
  schedule::ReportInput in;
  in.value = value;
  in.locationChange = mgrId == MGR_ID_RIL && arg == CRilMgr::REASON_LOCATION;
  in.manualMode = ManualMode();
  in.locked = locked_.load();
  in.reevaluateFromLastPlace = reevaluateFromLastPlace_.load() != 0;
  in.reevaluateAlways = reevaluateAlways_.load() != 0;
  in.radioOn = CRilMgr::PhoneRadioOn();
  ScheduleEngineHooks hooks;
  {
    std::lock_guard lock(stateMutex_);
    hooks = hooks_;
  }
  in.bandForceSwitch = hooks.bandForceSwitch && hooks.bandForceSwitch();
  in.phoneManualOff = hooks.phoneManualOff && hooks.phoneManualOff();
  in.rechecked = rechecked;
  in.last = CodeInfoOf(lastCode_.load());
  CRilMgr* ril = CRilMgr::GetInstance();
  in.trackerPresent = ril != nullptr;
  in.now = CodeInfoOf(ril ? ril->GetLocationCode() : in.last.code);
  in.cellId = ril ? ril->GetCellId() : 0;
  in.lac = ril ? ril->GetLac() : 0;
  in.graceSeconds =
      std::min<std::int64_t>(Settings()->GetDWORD(kLocationGraceKey), schedule::kMaxGraceSeconds);
  in.held = GetHeldDeparture();
  in.nowMs = platform::Clock::LocalNowMs();
  in.lastPlace = static_cast<std::int32_t>(Settings()->GetDWORD(kLastPlaceKey));
  in.currentFrameId = CurrentFrameId();
  in.time = Now();
  in.learnCells = !CStrLocation::IsCellMode() && Settings()->GetDWORD(kIntelligentLacKey) != 0;
  for (std::int32_t placeId : schedule::PlacesToRead(in))
    in.frames[placeId] = FramesOf(placeId);
  return in;
}

void CScheduleEngine::StatusChangedAsync(int value, int mgrId, int arg) {
  Trace(TRACE_TRACE, "CScheduleEngine::StatusChangedAsync(%d,%d,%d)", value, mgrId, arg);
  schedule::ReportInput in = GatherReport(value, mgrId, arg, false);
  schedule::Decision d = schedule::DecideReport(in);
  if (d.traceFlags)
    Trace(TRACE_TRACE, "Flag(%d,%d)", in.bandForceSwitch ? 1 : 0, in.phoneManualOff ? 1 : 0);
  if (d.recheck) {
    // Ask the radio again; a newer report ends the waits, since it is the newer answer.
    Wait waited = WaitForReport(recheckFirstMs_.load());
    if (waited == Wait::kStopping)
      return;
    if (waited == Wait::kElapsed) {
      if (CRilMgr* ril = CRilMgr::GetInstance())
        ril->RequestCellTowerInfo();
      if (WaitForReport(recheckSecondMs_.load()) == Wait::kStopping)
        return;
    }
    Repaint();
    d = schedule::DecideReport(GatherReport(value, mgrId, arg, true));
  }
  Carry(d);
}

void CScheduleEngine::FollowClock() {
  schedule::TimeChangeInput in;
  in.manualMode = ManualMode();
  in.locked = locked_.load();
  in.lockedPlaceId = GetLockedPlace().GetId();
  in.lastCode = lastCode_.load();
  in.last = CodeInfoOf(in.lastCode);
  in.lastPlace = static_cast<std::int32_t>(Settings()->GetDWORD(kLastPlaceKey));
  in.currentFrameId = CurrentFrameId();
  in.time = Now();
  if (std::optional<std::int32_t> placeId = schedule::TimeChangePlace(in))
    in.frames[*placeId] = FramesOf(*placeId);
  Carry(schedule::DecideTimeChange(in));
}

void CScheduleEngine::HoldDeparture(const schedule::HeldDeparture& held) {
  Trace(TRACE_TRACE, "CScheduleEngine: leaving place %d held until %lld", held.placeId,
        static_cast<long long>(held.untilMs));
  {
    std::lock_guard lock(stateMutex_);
    held_ = held;
  }
  timernotification::Clear(CLimitNotifications::Take(kGraceNotificationKey));
  platform::CE_NOTIFICATION_TRIGGER trigger;
  trigger.lpszApplication = platform::Utf8Truncate(timernotification::ProgramPath(), 260);
  trigger.lpszArguments = timernotification::TimerArgument(MGR_ID_SCHEDULE_PERIOD, KIND_GRACE_END);
  trigger.stStartTime = platform::MsToSystemTime(held.untilMs);
  CLimitNotifications::Set(kGraceNotificationKey, platform::CeSetUserNotificationEx(0, trigger));
}

void CScheduleEngine::DropHeldDeparture() {
  {
    std::lock_guard lock(stateMutex_);
    if (!held_)
      return;
    held_.reset();
  }
  timernotification::Clear(CLimitNotifications::Take(kGraceNotificationKey));
}

void CScheduleEngine::RecordFlap(const schedule::Flap& flap) {
  std::string cell = std::to_string(static_cast<std::uint32_t>(flap.held.cellId));
  std::string lac = std::to_string(static_cast<std::uint32_t>(flap.held.lac));
  std::string place = locationlookup::FindPlace(flap.held.placeId).value_or(CStrPlace()).GetName();
  if (place.empty())
    place = Text("UNKNOWN");
  Record(CEventLog::LEVEL_INFO, FormatText(Text("EVENT_LOG_LOCATION_FLAP_RESUME"), {cell, lac}),
         FormatText(Text("EVENT_LOG_LOCATION_FLAP_DESCRIPTION"),
                    {cell, lac, std::to_string(std::max<std::int64_t>(flap.awayMs, 0) / 1000),
                     place, std::to_string(flap.graceSeconds)}));
  // The day's trace shows the absorbed visit too, so a replay can draw it.
  CDayTrace::NoteFlap(place, flap.held.cellId, flap.held.lac,
                      static_cast<int>(std::max<std::int64_t>(flap.awayMs, 0) / 1000));
}

void CScheduleEngine::Carry(const schedule::Decision& d) {
  if (!d.note.empty())
    Trace(TRACE_TRACE, "%s", d.note.c_str());
  if (d.dropHold)
    DropHeldDeparture();
  if (d.flap)
    RecordFlap(*d.flap);
  if (d.hold) {
    HoldDeparture(*d.hold);
    return;
  }
  if (d.consumeFromLastPlace)
    reevaluateFromLastPlace_.store(0);
  if (d.consumeAlways)
    reevaluateAlways_.store(0);
  if (d.setLastCode)
    lastCode_.store(*d.setLastCode);
  if (d.leaveFrameId)
    QueueCommand(CMD_END, *d.leaveFrameId);
  if (d.clearNotification)
    ClearFrameNotification();
  if (d.forgetLocation) {
    // The location belongs to a place that is gone: forget the location.
    std::unique_ptr<CStrLocation> location = CStrLocation::NewLocation();
    location->SetCode(*d.forgetLocation);
    Db()->GetTableLocation()->Delete(*location);
    CRilMgr* ril = CRilMgr::GetInstance();
    platform::TextBox(
        0, FormatText(Text("LAC ASSIGNED BUT NO PLACE"),
                      {std::to_string(static_cast<std::uint32_t>(ril ? ril->GetCellId() : 0)),
                       std::to_string(static_cast<std::uint32_t>(ril ? ril->GetLac() : 0))}));
  }
  if (d.clearCurrentFrame)
    ClearCurrentFrame();
  if (d.writeLastPlace)
    Settings()->SetDWORD(kLastPlaceKey, static_cast<platform::DWORD>(*d.writeLastPlace));
  if (d.enter) {
    SetCurrentFrame(*d.enter);
    Selection chosen;
    chosen.locked = locked_.load();
    if (CRilMgr* ril = CRilMgr::GetInstance(); ril && !chosen.locked) {
      chosen.cellId = ril->GetCellId();
      chosen.lac = ril->GetLac();
    }
    std::lock_guard lock(stateMutex_);
    selections_[d.enter->GetId()] = chosen;
  }
  if (d.arm)
    SetPeriodNotification(d.arm->kind, d.arm->hour, d.arm->minute);
  if (d.enter) {
    AwakeForActions();
    QueueCommand(CMD_START, 0);
  }
  if (d.noFrameForPlace) {
    platform::TextBox(
        0, Text("NO FRAME FOR PLACE WITH PHONE OFF") + " " + std::to_string(*d.noFrameForPlace));
  }
  if (d.learnCell)
    LearnCell(d.learnCell->first, d.learnCell->second);
}

void CScheduleEngine::LearnCell(std::int32_t cellId, std::int32_t placeId) {
  CTableCell* cells = Db()->GetTableCell();
  CStrCell known;
  known.SetCode(cellId);
  if (cells->FindAndFill(known))
    return;
  CStrCell learned(cellId, placeId);
  cells->Insert(learned);
  Trace(TRACE_DEBUG, "CScheduleEngine: cell %d learned for place %d", cellId, placeId);
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
  if (app && app->WithMainWindow([&](IMainWindow* window) { window->PublishPlace(place, frame); }))
    return;
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
  schedule::RunInput in;
  in.isEnd = isEnd;
  in.frameId = frameId;
  in.lastRunFrameId = lastRunFrameId_.load();
  in.lastRunIsEnd = lastRunIsEnd_.load() != 0;
  db->GetTableActions()->GetAllForPeriod(&in.actions, frameId);
  runCount_.fetch_add(1);
  in.frame.SetId(frameId);
  db->GetTablePeriods()->FindAndFill(in.frame);
  in.framePlaceName =
      locationlookup::FindPlace(in.frame.GetIdPlace()).value_or(CStrPlace()).GetName();
  in.currentFrame = GetCurrentFrameRef();
  in.locked = locked_.load();
  in.lockedPlaceName = GetLockedPlace().GetName();
  CStrPlace locationPlace;
  if (CRilMgr* ril = CRilMgr::GetInstance(); ril && ril->GetCurrentPlace(&locationPlace))
    in.locationPlaceName = locationPlace.GetName();
  in.led = db->GetTableActions()->FindOrCreate(frameId, ACTION_LED, false, isEnd ? 1 : 0);
  in.weekday = platform::Clock::LocalTime().wDayOfWeek;
  for (CMgr* mgr : CMgr::GetAll())
    in.managers.insert(mgr->GetId());

  schedule::RunPlan plan = schedule::PlanRun(in);
  if (plan.skip) {
    std::string skip = Text("EVENT_LOG_MGR_SKIP_SCHEDULE");
    Record(CEventLog::LEVEL_WARNING, skip, skip);
    return;
  }
  std::string count = std::to_string(plan.actionCount);
  Record(CEventLog::LEVEL_INFO,
         FormatText(Text(isEnd ? "EVENT_LOG_MGR_END_SCHEDULE_RESUME"
                               : "EVENT_LOG_MGR_START_SCHEDULE_RESUME"),
                    {plan.placeName, plan.frameName, count}),
         FormatText(Text(isEnd ? "EVENT_LOG_MGR_END_SCHEDULE_DESCRIPTION"
                               : "EVENT_LOG_MGR_START_SCHEDULE_DESCRIPTION"),
                    {plan.placeName, plan.frameName, count}));
  Publish(plan.publishPlace, plan.label);
  CDayTrace::NoteFrame(isEnd, frameId, plan.placeName, schedule::FrameLabel(in.frame));

  AwakeForActions();
  if (plan.blinkLed) {
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
  ScheduleEngineHooks hooks;
  Selection chosen;
  {
    std::lock_guard lock(stateMutex_);
    hooks = hooks_;
    if (auto it = selections_.find(frameId); it != selections_.end())
      chosen = it->second;
    else
      chosen.locked = in.locked;
  }
  CChangeCause cause =
      CChangeCause::Schedule(plan.placeName, schedule::FrameLabel(in.frame), isEnd, chosen.locked,
                             static_cast<std::uint32_t>(chosen.cellId),
                             static_cast<std::uint32_t>(chosen.lac), 0, plan.directionCount);
  for (const schedule::RunStep& step : plan.steps)
    RunStep(step, hooks, cause);

  lastRunIsEnd_.store(isEnd ? 1 : 0);
  lastRunFrameId_.store(frameId);
  Repaint();
  watch.Stop();
  StartPeriodCounter().Add(watch.Elapsed() * 1000.0);
}

void CScheduleEngine::RunStep(const schedule::RunStep& step, const ScheduleEngineHooks& hooks,
                              const CChangeCause& runCause) {
  using Step = schedule::RunStep;
  CMgr* mgr = step.mgrId >= 0 ? CMgr::GetMgr(step.mgrId) : nullptr;
  bool builtIn =
      step.kind == Step::kOpenFile || step.kind == Step::kTheme || step.kind == Step::kRingTone;
  if (builtIn && hooks.builtInAction) {
    hooks.builtInAction(step);
    return;
  }
  switch (step.kind) {
    case Step::kSkipped: {
      std::string name = mgr ? mgr->GetName() : "";
      Record(CEventLog::LEVEL_INFO, FormatText(Text("EVENT_LOG_MGR_ACTION_SKIPPED_RESUME"), {name}),
             FormatText(Text("EVENT_LOG_MGR_ACTION_SKIPPED_DESCRIPTION"), {name}));
      break;
    }
    case Step::kForce:
      if (mgr) {
        CChangeCause cause = runCause;
        cause.position = step.position;
        mgr->ForceStatus(step.status, 0, step.param, step.delayMs, cause);
      }
      break;
    case Step::kSetVolume:
      if (mgr && hooks.setVolumeLevel)
        hooks.setVolumeLevel(mgr, step.status);
      break;
    case Step::kSetForwardNumber:
      if (hooks.setForwardNumber)
        hooks.setForwardNumber(mgr, step.text);
      break;
    case Step::kOpenFile:
      Spawn([this, file = step.text] {
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
    case Step::kTheme:
      Spawn([this, theme = step.text] {
        Record(CEventLog::LEVEL_INFO,
               FormatText(Text("EVENT_LOG_MGR_ACTION_THEME_RESUME"), {theme}),
               FormatText(Text("EVENT_LOG_MGR_ACTION_THEME_DESCRIPTION"), {theme}));
        if (!platform::SelectTodayTheme(theme))
          Trace(TRACE_WARNING, "CScheduleEngine: no theme %s", theme.c_str());
      });
      break;
    case Step::kRingTone:
      Spawn([this, sound = step.text, script = step.text2, volume = step.status] {
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
    case Step::kMail:
      if (hooks.sendMail) {
        hooks.sendMail(step.text, step.text2, step.text3,
                       static_cast<int>(Settings()->GetDWORD(kMailProviderKey)));
      }
      break;
    case Step::kSms:
      if (hooks.sendSms)
        hooks.sendSms(step.text, step.text3);
      break;
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

CScheduleEngine::Wait CScheduleEngine::WaitForReport(int ms) {
  std::unique_lock lock(threadsMutex_);
  stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_ || newReport_; });
  if (stopping_)
    return Wait::kStopping;
  return newReport_ ? Wait::kNewReport : Wait::kElapsed;
}

bool CScheduleEngine::Pause(int ms) {
  std::unique_lock lock(threadsMutex_);
  stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
  return !stopping_;
}

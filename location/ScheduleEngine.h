// CScheduleEngine: decides which place the user is in and which time frame of that place applies
// now, and runs the frame's actions when the frame is entered and when it is left.
//
// It reacts to three things: a location change reported by the cell tracker (CRilMgr), its own
// timed wake-ups at frame boundaries ("timer_notification_07_00" at the end of the current
// frame, "timer_notification_07_01" at the start of the next one, "timer_notification_07_02" at
// the end of the grace period of a held departure, "timer_notification_08_00" at the end of a
// place lock), and changes of the profile data (ChangeInDB). Each manager status it forces
// carries the action's cause (place, frame, the location that chose the place, position). It
// publishes the current place and frame ("current_place", "current_frame") and writes every
// decision to the event log (code 301).
//
// All evaluation and every action run on the engine's own worker thread, one command at a time:
//   CMD_START  enter the current frame;
//   CMD_END    leave the frame whose Id is the parameter;
//   CMD_STATUS_CHANGED  evaluate a reported change (the parameter is a heap StatusChangedRecord);
//   CMD_LOCK   begin a lock to a place (parameter 0) or follow its frames at a boundary (1);
//   CMD_TIME_CHANGED  follow a change of the phone's clock.
// What each of them does is decided by the plain functions of ScheduleDecision.h from what the
// engine gathers (location, clock, lock, mode, radio, stored frames); the engine carries it out.
// Reports that arrive while an evaluation is queued and not yet taken join it, so a burst of
// location reports costs one evaluation of the newest location.
// A frame change therefore always runs the old frame's leaving actions before the new frame's
// entering actions; phone-radio, call-forwarding and power-state actions run after every other
// action of their run. Open-file, ring-tone, home-screen-theme actions and the LED blink run on
// threads of their own that own copies of their operands.
//
// Threads: OnStatusChanged is called on the reporting manager's thread and only queues;
// DispatchTimerNotification, LockToPlace, SetLocked and EndLock run on the user-interface thread
// and only change flags and queue; ChangeInDB and TimeChanged may be called from any thread. The
// engine's state (current frame, last code, lock) is guarded by its own lock, which is never held
// while the engine waits for anything else; the user interface reads copies of it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Mgr.h"
#include "app/PerfCounter.h"
#include "app/Stopwatch.h"
#include "app/TimerNotification.h"
#include "app/WorkerThread.h"
#include "data/StrAction.h"
#include "data/StrPeriod.h"
#include "data/StrPlace.h"
#include "location/ScheduleDecision.h"
#include "platform/Types.h"

class CRilMgr;

// What a reported status change carries to the worker (the handler frees it).
struct StatusChangedRecord {
  int value;
  int mgrId;
  int arg;
};

// Calls into managers beyond what CMgr offers, and into the main window. DefaultHooks reaches
// the program's own managers by their ids; tests replace them to watch the calls. An empty one
// is skipped.
struct ScheduleEngineHooks {
  // The speaker manager's ring volume step, applied before its status is forced.
  std::function<void(CMgr* speaker, int level)> setVolumeLevel;
  // The call-forwarding manager's number, stored before its status is forced.
  std::function<void(CMgr* callForward, const std::string& number)> setForwardNumber;
  // The band manager's ForceSwitch flag (a band change from the main window is under way).
  std::function<bool()> bandForceSwitch;
  // The phone manager's ManualOff flag (the user switched the radio off by hand).
  std::function<bool()> phoneManualOff;
  // The messaging manager: a text message to a number, an e-mail through an account.
  std::function<void(const std::string& number, const std::string& text)> sendSms;
  std::function<void(const std::string& to, const std::string& subject, const std::string& body,
                     int account)>
      sendMail;
  // Repaints the main window (the current-location panel). Any thread; must not block. The
  // user interface sets it.
  std::function<void()> repaintMainWindow;
  // When set, the built-in actions that would run on threads of their own (open a file, the
  // home-screen theme, the ring tone) are handed to it on the worker instead of being run: a
  // replay records them and changes nothing.
  std::function<void(const schedule::RunStep& step)> builtInAction;
};

class CScheduleEngine : public IStatusListener,
                        public ITimerNotificationTarget,
                        public WorkerThread {
 public:
  // Worker commands.
  static constexpr int CMD_START = 0;
  static constexpr int CMD_END = 1;
  static constexpr int CMD_STATUS_CHANGED = 2;
  static constexpr int CMD_LOCK = 3;
  static constexpr int CMD_TIME_CHANGED = 4;
  // Kinds of frame notification (the parameter of target id 7).
  static constexpr int KIND_FRAME_END = schedule::kKindFrameEnd;
  static constexpr int KIND_NEXT_START = schedule::kKindNextStart;
  // Event-log code of the engine's records.
  static constexpr int kEventLogCode = 301;
  // A last code that makes the next evaluation count as a change.
  static constexpr std::int32_t kForceEvaluationCode = schedule::kForceEvaluationCode;
  // Built-in actions (action MgrIds that no manager has).
  static constexpr int ACTION_LED = schedule::kActionLed;
  static constexpr int ACTION_OPEN_FILE = schedule::kActionOpenFile;
  static constexpr int ACTION_MAIL = schedule::kActionMail;
  static constexpr int ACTION_SMS = schedule::kActionSms;
  static constexpr int ACTION_THEME = schedule::kActionTheme;
  static constexpr int ACTION_RING_TONE = schedule::kActionRingTone;
  static constexpr int kLedBlinkMs = 3000;
  static constexpr unsigned kLedNumber = 1;
  // The power state that resets the device; its action waits so that the log is written.
  static constexpr int kResetPowerState = schedule::kResetPowerState;
  static constexpr int kResetDelayMs = schedule::kResetDelayMs;
  static constexpr int kForwardAfterRadioOnDelayMs = schedule::kForwardAfterRadioOnDelayMs;
  static constexpr int kRadioAfterForwardParam = schedule::kRadioAfterForwardParam;
  // Waits when a known location turns into an unknown one, before and after asking again.
  static constexpr int kRecheckFirstWaitMs = 5000;
  static constexpr int kRecheckSecondWaitMs = 2000;
  // The published frame label holds at most this many characters.
  static constexpr std::size_t kFrameLabelChars = schedule::kFrameLabelChars;

  // Settings.
  static constexpr const char* kManualModeKey = "profile_change_mode";
  static constexpr const char* kLastPlaceKey = "last_place";
  static constexpr const char* kAwakeToExecuteKey = "awake_to_execute_actions";
  static constexpr const char* kIntelligentLacKey = "intelligent_lac_mode";
  static constexpr const char* kMailProviderKey = "mail_provider";
  static constexpr const char* kCurrentPlaceKey = "current_place";
  static constexpr const char* kCurrentFrameKey = "current_frame";
  // Seconds a location change that would leave the current place is held (0: none). While it
  // is held, a return to a location of the place within the period leaves and enters nothing
  // and writes one entry; otherwise the change is carried out when the period ends, through a
  // timed notification (target id 7, kind KIND_GRACE_END).
  static constexpr const char* kLocationGraceKey = "location_grace_seconds";
  static constexpr int KIND_GRACE_END = schedule::kKindGraceEnd;
  // The key of the grace notification's handle among the time-limit notifications.
  static constexpr int kGraceNotificationKey = 107;

  // The process's engine, created on first use: it then listens to the cell tracker (manager
  // 6) and the phone manager (3) and starts its worker thread.
  static CScheduleEngine* Instance();
  // The engine, or null when none was created.
  static CScheduleEngine* GetInstance();
  // Stops the engine (end of the program, tests): stops listening, ends the worker and waits
  // for the action threads; the next Instance() creates a new engine. The stopped one stays
  // allocated until the process ends, since a manager may still be calling it from a copy of
  // its listener list; it then refuses everything.
  static void DestroyInstance();

  // ---- Time ranges (start == end is the whole day; start > end wraps past midnight) --------
  static bool Contains(const CStrPeriod& range, const platform::TimeOfDay& t, bool inclusive);
  // `a` contains b's start (inclusive) and b's end (exclusive).
  static bool ContainsRange(const CStrPeriod& a, const CStrPeriod& b);
  static bool Intersects(const CStrPeriod& a, const CStrPeriod& b);
  static bool IsWholeDay(const CStrPeriod& range);

  // ---- Frame lookup ------------------------------------------------------------------------
  // Id of the place's first frame (in start order) that contains the time; -1 when none.
  std::int32_t FindFrameId(int hour, int minute, std::int32_t placeId);
  // The place's frame for the phone's local time now.
  bool FindFrameForTime(CStrPeriod* frame, std::int32_t placeId);
  // The place's next frame: its only one, else the first starting strictly after now, else its
  // earliest (tomorrow's first). False when the place has no frames.
  bool GetNextFrame(CStrPeriod* frame, std::int32_t placeId);
  // The frame now in force at the cell tracker's location; false when the location or its
  // place is unknown.
  bool GetCurrentFrame(CStrPeriod* frame);

  // ---- Events ------------------------------------------------------------------------------
  // IStatusListener: a location change (manager 6, reason 1) or status refresh (reason 10) is
  // queued for evaluation, or joins the evaluation already queued; everything else is ignored.
  void OnStatusChanged(int status, int mgrId, int reason) override {
    StatusChanged(status, mgrId, reason);
  }
  std::string GetListenerName() override { return "CScheduleEngine"; }
  void StatusChanged(int value, int mgrId, int arg);
  // ITimerNotificationTarget: target ids 7 and 8 go to OnTimedNotification.
  void DispatchTimerNotification(int id, int param) override;
  void OnTimedNotification(int kind, int param);
  // The profile data changed: forget the history's places and evaluate again as if the
  // location had just changed. The day's trace notes it, so that a replay looks the frame up
  // again at the same moment.
  void ChangeInDB();
  // The phone's clock was changed (set, moved back or forth): the frame in force for the new
  // time is entered (the old one left) and the frame notification armed again for the new
  // clock. Any thread; only queues.
  void TimeChanged();

  // ---- Lock to a place ---------------------------------------------------------------------
  // Leaves the current frame and follows `place`'s frames, ignoring location changes.
  void LockToPlace(const CStrPlace& place);
  // Unlocking a locked engine leaves its current frame.
  void SetLocked(bool locked);
  bool IsLocked() const { return locked_.load(); }
  // Arms the end of the lock (target id 8) in `minutes` minutes; 0 or less: no end.
  void SetLockTimeLimit(int minutes);
  // Ends a lock: leaves the locked place's frame, asks the cell tracker for the location and
  // evaluates it again. Also what the end-of-lock notification does.
  void EndLock();
  // The place the lock command offers: the current location's place, else the first place.
  bool GetLockCandidate(CStrPlace* place);

  // ---- Frames being edited -----------------------------------------------------------------
  // Whether a new frame may be inserted into its place: refuses a whole-day frame for a place
  // that has frames, and a frame overlapping another one; a frame inside another one splits
  // that one around it after the user agrees. True when the caller may insert.
  bool AddPeriod(const CStrPeriod& period);
  // The same for an edited frame (no whole-day refusal; the frame itself is skipped).
  bool UpdatePeriod(const CStrPeriod& period);

  // Registers the engine's frame notification (kind KIND_FRAME_END or KIND_NEXT_START) for the
  // next time of day hour:minute after now, replacing the one registered before.
  void SetPeriodNotification(int kind, int hour, int minute);

  // ---- State for the user interface and diagnostics (copies) --------------------------------
  CStrPeriod GetCurrentFrameRef();
  CStrPlace GetLockedPlace();
  std::int32_t GetLastCode() const { return lastCode_.load(); }
  // The departure the grace period holds now, if any.
  std::optional<schedule::HeldDeparture> GetHeldDeparture();
  int GetRunCount() const { return runCount_.load(); }
  platform::HNOTIFY GetNotificationHandle() const { return notificationHandle_.load(); }
  // StartPeriod runs of every engine of the process: count, total and longest time.
  static CPerfCounter& StartPeriodCounter();

  // The engine starts with DefaultHooks.
  static ScheduleEngineHooks DefaultHooks();
  void SetHooks(ScheduleEngineHooks hooks);
  // The waits of a known location turning unknown (kRecheckFirstWaitMs, kRecheckSecondWaitMs).
  void SetRecheckWaits(int firstMs, int secondMs);

 protected:
  void HandleCommandWorkerThread(int command, std::intptr_t param) override;
  void DiscardCommand(int command, std::intptr_t param) override;

 private:
  struct Deleter {
    void operator()(CScheduleEngine* engine) const;
  };

  CScheduleEngine();
  ~CScheduleEngine() override;
  // Stops listening, the worker and the action threads. Idempotent.
  void Shutdown();

  enum class Wait { kElapsed, kNewReport, kStopping };

  void StatusChangedAsync(int value, int mgrId, int arg);
  schedule::ReportInput GatherReport(int value, int mgrId, int arg, bool rechecked);
  static schedule::CodeInfo CodeInfoOf(std::int32_t code);
  static std::vector<CStrPeriod> FramesOf(std::int32_t placeId);
  // Begins a lock (start) or enters the locked place's frame for now.
  void FollowLock(bool start);
  void FollowClock();
  // Forgets the history's places and the frame in force and evaluates the location again.
  void Reevaluate();
  // Carries out what an evaluation decided.
  void Carry(const schedule::Decision& decision);
  void StartPeriod(bool isEnd, std::int32_t frameId);
  // `cause` is the run's; the step's position is put in.
  void RunStep(const schedule::RunStep& step, const ScheduleEngineHooks& hooks,
               const CChangeCause& cause);
  // The held departure: kept and its notification armed, or forgotten and its notification
  // cleared. Worker thread.
  void HoldDeparture(const schedule::HeldDeparture& held);
  void DropHeldDeparture();
  void RecordFlap(const schedule::Flap& flap);
  void LearnCell(std::int32_t cellId, std::int32_t placeId);
  void QueueCommand(int command, std::intptr_t param);
  // Later reports queue a new evaluation instead of joining the one already queued.
  void ClosePendingEvaluation();
  void ClearFrameNotification();
  void AwakeForActions();
  void Publish(const std::string& place, const std::string& frame);
  void Repaint();
  bool ManualMode();
  bool CheckPeriod(const CStrPeriod& period, bool isNew);
  void SplitPeriod(const CStrPeriod& outer, const CStrPeriod& inner);
  void Record(int level, const std::string& summary, const std::string& description);
  // Runs `work` on a thread of its own, kept until it ends.
  void Spawn(std::function<void()> work);
  // Waits `ms` unless the engine is being destroyed; false when it is.
  bool Pause(int ms);
  // Waits `ms` unless a location report arrives or the engine is being destroyed.
  Wait WaitForReport(int ms);

  std::int32_t CurrentFrameId();
  void SetCurrentFrame(const CStrPeriod& frame);
  void ClearCurrentFrame();

  std::mutex stateMutex_;  // guards currentFrame_, lockedPlace_, hooks_, held_, selections_
  CStrPeriod currentFrame_;
  CStrPlace lockedPlace_;
  ScheduleEngineHooks hooks_;
  std::optional<schedule::HeldDeparture> held_;
  // What chose each frame entered: the location (cell, area) then, or a lock. The causes of a
  // frame's actions name it, when the frame is entered and when it is left.
  struct Selection {
    std::int32_t cellId = 0;
    std::int32_t lac = 0;
    bool locked = false;
  };
  std::map<std::int32_t, Selection> selections_;

  std::atomic<int> reevaluateFromLastPlace_{0};
  std::atomic<int> reevaluateAlways_{0};
  // No run yet: -1, so that the first run of any frame is never taken for a repeat.
  std::atomic<std::int32_t> lastRunFrameId_{-1};
  std::atomic<int> lastRunIsEnd_{0};
  std::atomic<platform::HNOTIFY> notificationHandle_{0};
  std::atomic<std::int32_t> lastCode_{-1};
  std::atomic<bool> locked_{false};
  std::atomic<int> runCount_{0};
  std::atomic<int> recheckFirstMs_{kRecheckFirstWaitMs};
  std::atomic<int> recheckSecondMs_{kRecheckSecondWaitMs};

  // Action threads and the stop signal their waits listen to.
  std::mutex threadsMutex_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
  struct ActionThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<ActionThread> threads_;
  // Set by every location report, cleared when an evaluation is taken (guarded by threadsMutex_).
  bool newReport_ = false;

  // The evaluation queued and not yet taken, which later reports join; null when none.
  std::mutex pendingMutex_;
  StatusChangedRecord* pending_ = nullptr;

  std::vector<CMgr*> listeningTo_;
};

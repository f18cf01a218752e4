// What the schedule engine decides, as plain functions of what it knows: where the phone is
// (the location code and the place it maps to), the time of day and weekday, the lock, the
// profile mode, the radio and the stored frames and actions. Each function returns what is to
// be done (a frame to leave, a frame to enter, a notification to arm, "last_place" to write, a
// cell to learn, the steps of a run); CScheduleEngine gathers the inputs and carries the result
// out. Nothing here touches threads, the phone, the event log or the database.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "data/StrAction.h"
#include "data/StrPeriod.h"
#include "platform/Time.h"

namespace schedule {

using platform::TimeOfDay;

// Kinds of frame notification (the parameter of target id 7).
inline constexpr int kKindFrameEnd = 0;
inline constexpr int kKindNextStart = 1;
// The end of the grace period of a held departure (also a parameter of target id 7).
inline constexpr int kKindGraceEnd = 2;
// The longest grace period taken from the setting, in seconds.
inline constexpr std::int64_t kMaxGraceSeconds = 24 * 3600;
// A last code that makes the next evaluation count as a change.
inline constexpr std::int32_t kForceEvaluationCode = 999999;
// No location evaluated since start.
inline constexpr std::int32_t kNoCodeYet = -1;
// The place of every location that no location record names.
inline constexpr std::int32_t kUnknownPlaceId = 0;
// Built-in actions (action MgrIds that no manager has).
inline constexpr int kActionLed = 11;
inline constexpr int kActionOpenFile = 12;
inline constexpr int kActionMail = 13;
inline constexpr int kActionSms = 14;
inline constexpr int kActionTheme = 15;
inline constexpr int kActionRingTone = 16;
// Deferred actions and their delays.
inline constexpr int kPhoneMgrId = 3;
inline constexpr int kSpeakerMgrId = 2;
inline constexpr int kPowerMgrId = 9;
inline constexpr int kCallForwardMgrId = 51;
inline constexpr int kResetPowerState = 0x800000;
inline constexpr int kResetDelayMs = 10000;
inline constexpr int kForwardAfterRadioOnDelayMs = 120000;
inline constexpr int kRadioAfterForwardParam = 10000;

// ---- Time ranges (start == end is the whole day; start > end wraps past midnight) ----------
bool IsWholeDay(const CStrPeriod& range);
bool Contains(const CStrPeriod& range, const TimeOfDay& t, bool inclusive);
// `a` contains b's start (inclusive) and b's end (exclusive).
bool ContainsRange(const CStrPeriod& a, const CStrPeriod& b);
bool Intersects(const CStrPeriod& a, const CStrPeriod& b);

// ---- Frame lookup over one place's frames, in stored (start) order ----------------------------
// The first frame whose range contains `t`.
std::optional<CStrPeriod> FrameAt(const std::vector<CStrPeriod>& frames, const TimeOfDay& t);
// The only frame, else the first starting strictly after `now`, else the earliest (tomorrow's
// first); none when there are no frames.
std::optional<CStrPeriod> NextFrame(std::vector<CStrPeriod> frames, const TimeOfDay& now);

// The frames of the places a decision may look at, by place Id (a place missing here has none).
using PlaceFrames = std::map<std::int32_t, std::vector<CStrPeriod>>;

// A frame notification to register (replacing the one registered before).
struct Arm {
  int kind = kKindFrameEnd;
  int hour = 0;
  int minute = 0;
  friend bool operator==(const Arm&, const Arm&) = default;
};

// A location change that would leave the current place, held back by the grace period: the
// phone may be hopping to a neighbouring cell for a moment.
struct HeldDeparture {
  // The place the phone would leave (kUnknownPlaceId for the unknown place).
  std::int32_t placeId = kUnknownPlaceId;
  // Device times (milliseconds of platform::SystemTimeToMs): the first report away, and the end
  // of the grace period (a whole second, so that a notification due then finds it over).
  std::int64_t sinceMs = 0;
  std::int64_t untilMs = 0;
  // The location first seen away: its code, cell and area.
  std::int32_t code = 0;
  std::int32_t cellId = 0;
  std::int32_t lac = 0;
  friend bool operator==(const HeldDeparture&, const HeldDeparture&) = default;
};

// A held departure that ended with the phone back on a location of its place in time.
struct Flap {
  HeldDeparture held;
  std::int64_t awayMs = 0;
  std::int64_t graceSeconds = 0;
};

// What an evaluation does, in the order the engine carries it out.
struct Decision {
  // Why nothing (more) happens, for the trace; empty when something does.
  std::string note;
  // The band and manual-off flags were looked at ("Flag(%d,%d)" is traced).
  bool traceFlags = false;
  // Which wake-up flag of the radio-off case the evaluation consumed.
  bool consumeFromLastPlace = false;
  bool consumeAlways = false;
  // A known location turned unknown: wait, ask the radio again and decide again with the code
  // then reported (ReportInput::rechecked). Nothing else is done.
  bool recheck = false;
  std::optional<std::int32_t> setLastCode;
  // Leave this frame (queued before anything is entered).
  std::optional<std::int32_t> leaveFrameId;
  bool clearNotification = false;
  // The location record of this code names a place that is gone: delete it and tell the user.
  std::optional<std::int32_t> forgetLocation;
  bool clearCurrentFrame = false;
  std::optional<std::int32_t> writeLastPlace;
  // Make this frame current and queue entering it.
  std::optional<CStrPeriod> enter;
  std::optional<Arm> arm;
  // Tell the user that this place has no frame for now (a wake-up with the radio off).
  std::optional<std::int32_t> noFrameForPlace;
  // Store this cell (cell Id, place Id) in the cell table unless it is there already.
  std::optional<std::pair<std::int32_t, std::int32_t>> learnCell;
  // Forget the held departure (and its notification); done before `hold`.
  bool dropHold = false;
  // Hold this departure: keep it and arm the end of its grace period. Nothing else is done.
  std::optional<HeldDeparture> hold;
  // Write the entry of a departure the grace period absorbed.
  std::optional<Flap> flap;
};

// What a location code maps to.
struct CodeInfo {
  std::int32_t code = 0;
  // The PlaceId of the code's location record; none when the code is not a known location.
  std::optional<std::int32_t> placeId;
  // That place is in the places table.
  bool placeExists = false;
};

// A status report of the cell tracker (a location change or a status refresh) to evaluate.
struct ReportInput {
  int value = 1;               // non-zero: a report of the tracker; 0: data change, frame end
  bool locationChange = true;  // reason 1 (else a status refresh)
  bool manualMode = false;     // "profile_change_mode"
  bool locked = false;
  bool reevaluateFromLastPlace = false;
  bool reevaluateAlways = false;
  bool radioOn = true;
  bool bandForceSwitch = false;
  bool phoneManualOff = false;
  bool rechecked = false;
  bool trackerPresent = true;                      // the cell tracker exists
  CodeInfo last{kNoCodeYet, std::nullopt, false};  // the code of the last evaluation
  CodeInfo now;                                    // the code the tracker reports now
  std::int32_t lastPlace = 0;                      // "last_place"
  std::int32_t currentFrameId = -1;
  TimeOfDay time;
  bool learnCells = false;  // LAC mode with "intelligent_lac_mode"
  std::int32_t cellId = 0;
  std::int32_t lac = 0;
  PlaceFrames frames;
  // "location_grace_seconds" (0: a departure is carried out at once), the departure held now,
  // and the device time (milliseconds of platform::SystemTimeToMs).
  std::int64_t graceSeconds = 0;
  std::optional<HeldDeparture> held;
  std::int64_t nowMs = 0;
};
// The places whose frames an evaluation of `in` may need.
std::set<std::int32_t> PlacesToRead(const ReportInput& in);
Decision DecideReport(const ReportInput& in);

// A lock to a place begins (start) or, while locked, a frame boundary passes.
struct LockInput {
  bool start = false;  // also gives up a held departure
  std::int32_t currentFrameId = -1;
  std::vector<CStrPeriod> lockedPlaceFrames;
  TimeOfDay time;
};
Decision DecideLock(const LockInput& in);

// The phone's clock was changed: the frame in force and the armed boundary follow it.
struct TimeChangeInput {
  bool manualMode = false;
  bool locked = false;
  std::int32_t lockedPlaceId = 0;
  std::int32_t lastCode = kNoCodeYet;
  CodeInfo last;  // the place of the last code
  std::int32_t lastPlace = 0;
  std::int32_t currentFrameId = -1;
  TimeOfDay time;
  PlaceFrames frames;
};
// The place whose frames apply after a clock change; none when an evaluation is pending anyway.
std::optional<std::int32_t> TimeChangePlace(const TimeChangeInput& in);
Decision DecideTimeChange(const TimeChangeInput& in);

// A timed notification of the engine (target id 7: frame boundary, or with kKindGraceEnd the end
// of a grace period; 8: end of a lock).
struct TimedInput {
  int targetId = 7;
  int param = kKindFrameEnd;
  bool manualMode = false;
  bool locked = false;
  bool radioOn = true;
  std::int32_t currentFrameId = -1;
};
struct TimedDecision {
  bool ignore = false;
  std::optional<std::int32_t> leaveFrameId;
  bool clearCurrentFrame = false;
  // Locked: follow the locked place's frames instead of the location.
  bool followLockedPlace = false;
  bool forceEvaluation = false;  // the last code becomes kForceEvaluationCode
  bool setReevaluateFromLastPlace = false;
  bool setReevaluateAlways = false;
  // Evaluate the location with this value.
  std::optional<int> evaluateValue;
  bool endLock = false;
};
TimedDecision DecideTimed(const TimedInput& in);

// ---- Running a frame (entering or leaving it) ------------------------------------------------
struct RunInput {
  bool isEnd = false;
  std::int32_t frameId = -1;
  // The last run; (-1, not end) before the first.
  std::int32_t lastRunFrameId = -1;
  bool lastRunIsEnd = false;
  // The frame run and its place's Name (empty when not found).
  CStrPeriod frame;
  std::string framePlaceName;
  // The frame in force (its label is published when entering).
  CStrPeriod currentFrame;
  // The place published: the locked one while locked, else the location's (empty: unknown).
  bool locked = false;
  std::string lockedPlaceName;
  std::string locationPlaceName;
  std::vector<CStrAction> actions;
  std::optional<CStrAction> led;
  int weekday = 1;  // 0 = Sunday
  // Ids of the managers that exist.
  std::set<int> managers;
};

struct RunStep {
  enum Kind {
    kSkipped,           // action-skipped record for mgrId
    kForce,             // ForceStatus(status, 0, param, delayMs) on mgrId
    kSetVolume,         // the speaker's volume step (status)
    kSetForwardNumber,  // the call-forwarding number (text)
    kOpenFile,          // text = file
    kTheme,             // text = theme name
    kRingTone,          // text = sound, text2 = script, status = volume
    kMail,              // text, text2, text3 = to, subject, body
    kSms,               // text = number, text3 = message
  };
  Kind kind = kForce;
  int mgrId = 0;
  int status = 0;
  int param = 0;
  int delayMs = 0;
  std::string text;
  std::string text2;
  std::string text3;
  // The position (1-based, in Id order) of the step's action among the frame's actions of the
  // run's direction; 0 for steps of no single action.
  int position = 0;
};

struct RunPlan {
  // The same frame in the same direction as the last run: only the skip record.
  bool skip = false;
  std::string placeName;
  std::string frameName;
  std::size_t actionCount = 0;
  // The frame's actions of the run's direction (what a step's position counts).
  int directionCount = 0;
  std::string publishPlace;
  std::string label;  // the frame label when entering, empty when leaving
  bool blinkLed = false;
  std::vector<RunStep> steps;
};
// The label of a frame entered: "Name(HH:MM-HH:MM)", at most kFrameLabelChars characters.
inline constexpr std::size_t kFrameLabelChars = 49;
std::string FrameLabel(const CStrPeriod& frame);
RunPlan PlanRun(const RunInput& in);

}  // namespace schedule

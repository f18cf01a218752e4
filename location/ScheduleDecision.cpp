#include "location/ScheduleDecision.h"

#include <algorithm>

#include "platform/Text.h"

namespace schedule {

namespace {

const std::vector<CStrPeriod>& FramesOf(const PlaceFrames& frames, std::int32_t placeId) {
  static const std::vector<CStrPeriod> none;
  auto it = frames.find(placeId);
  return it == frames.end() ? none : it->second;
}

// The place a wake-up with the radio off re-evaluates: the last code's, else "last_place".
std::int32_t ReevaluationPlace(std::int32_t lastCode, const CodeInfo& last,
                               std::int32_t lastPlace) {
  if (lastCode > 0)
    return last.placeId.value_or(kUnknownPlaceId);
  return lastPlace;
}

// The place a location code puts the phone in: its record's place, else the unknown place.
std::int32_t PlaceOf(const CodeInfo& info) {
  return info.placeId && info.placeExists ? *info.placeId : kUnknownPlaceId;
}

void Enter(Decision* d, const CStrPeriod& frame) {
  d->enter = frame;
  d->arm = Arm{kKindFrameEnd, frame.GetEnd().wHour, frame.GetEnd().wMinute};
}

void ArmNext(Decision* d, const std::vector<CStrPeriod>& frames, const TimeOfDay& time) {
  if (auto next = NextFrame(frames, time))
    d->arm = Arm{kKindNextStart, next->GetStart().wHour, next->GetStart().wMinute};
}

// The frame for now at the place, entered when found (and not already current unless
// `always`), else the place's next start armed.
void Follow(Decision* d, const std::vector<CStrPeriod>& frames, const TimeOfDay& time,
            std::int32_t currentFrameId, bool always) {
  if (auto frame = FrameAt(frames, time)) {
    if (always || frame->GetId() != currentFrameId)
      Enter(d, *frame);
  } else {
    d->clearCurrentFrame = true;
    ArmNext(d, frames, time);
  }
}

}  // namespace

// ---- Time ranges ---------------------------------------------------------------------------

bool IsWholeDay(const CStrPeriod& range) {
  return range.GetStartTime() == range.GetEndTime();
}

bool Contains(const CStrPeriod& range, const TimeOfDay& t, bool inclusive) {
  TimeOfDay start = range.GetStartTime();
  TimeOfDay end = range.GetEndTime();
  if (start < end)
    return inclusive ? (start <= t && t < end) : (start < t && t <= end);
  // Wrapping past midnight, or the whole day.
  return inclusive ? (t >= start || t < end) : (t > start || t < end);
}

bool ContainsRange(const CStrPeriod& a, const CStrPeriod& b) {
  return Contains(a, b.GetStartTime(), true) && Contains(a, b.GetEndTime(), false);
}

bool Intersects(const CStrPeriod& a, const CStrPeriod& b) {
  return IsWholeDay(a) || IsWholeDay(b) || Contains(a, b.GetStartTime(), true) ||
         Contains(a, b.GetEndTime(), false) || ContainsRange(b, a);
}

// ---- Frame lookup --------------------------------------------------------------------------

std::optional<CStrPeriod> FrameAt(const std::vector<CStrPeriod>& frames, const TimeOfDay& t) {
  for (const CStrPeriod& f : frames) {
    if (Contains(f, t, true))
      return f;
  }
  return std::nullopt;
}

std::optional<CStrPeriod> NextFrame(std::vector<CStrPeriod> frames, const TimeOfDay& now) {
  if (frames.empty())
    return std::nullopt;
  if (frames.size() == 1)
    return frames.front();
  std::stable_sort(frames.begin(), frames.end());
  for (const CStrPeriod& f : frames) {
    if (f.GetStartTime() > now)
      return f;
  }
  return frames.front();
}

// ---- Location reports ------------------------------------------------------------------------

std::set<std::int32_t> PlacesToRead(const ReportInput& in) {
  std::set<std::int32_t> places{in.lastPlace, kUnknownPlaceId,
                                ReevaluationPlace(in.last.code, in.last, in.lastPlace)};
  if (in.now.placeId)
    places.insert(*in.now.placeId);
  return places;
}

Decision DecideReport(const ReportInput& in) {
  Decision d;
  // A held departure ends with anything but a plain location report: the lock, manual mode, a
  // boundary, a data change and the radio going off are handled as they are without one.
  d.dropHold = in.held.has_value();
  if (in.locationChange && in.manualMode) {
    d.note = "manual profile mode";
    return d;
  }
  if (in.locationChange && in.locked) {
    d.note = "locked to a place";
    return d;
  }

  // Wake-ups while the radio was off: the place cannot come from the radio.
  if (in.reevaluateFromLastPlace) {
    d.consumeFromLastPlace = true;
    std::int32_t placeId = ReevaluationPlace(in.last.code, in.last, in.lastPlace);
    if (auto frame = FrameAt(FramesOf(in.frames, placeId), in.time)) {
      if (frame->GetId() != in.currentFrameId)
        Enter(&d, *frame);
    } else {
      d.noFrameForPlace = placeId;
    }
    return d;
  }
  if (in.reevaluateAlways) {
    d.consumeAlways = true;
    std::int32_t placeId = ReevaluationPlace(in.last.code, in.last, in.lastPlace);
    Follow(&d, FramesOf(in.frames, placeId), in.time, in.currentFrameId, true);
    return d;
  }
  if (!in.locationChange || !in.trackerPresent) {
    d.dropHold = false;
    d.note = "nothing to evaluate";
    return d;
  }

  if (!in.radioOn) {
    // The position stays; right after start the last place still gives a frame.
    if (in.last.code == kNoCodeYet && in.lastPlace != 0) {
      const auto& frames = FramesOf(in.frames, in.lastPlace);
      if (auto frame = FrameAt(frames, in.time)) {
        if (frame->GetId() != in.currentFrameId)
          Enter(&d, *frame);
      } else {
        ArmNext(&d, frames, in.time);
      }
    } else {
      d.note = "radio off";
    }
    return d;
  }

  d.traceFlags = !in.rechecked;
  if (in.bandForceSwitch || in.phoneManualOff) {
    d.dropHold = false;  // the band change is passing; the held departure waits for it
    d.note = "band switch or radio off by hand";
    return d;
  }

  const std::int32_t code = in.now.code;
  const std::int32_t old = in.last.code;
  const bool oldKnown = in.last.placeId.has_value();
  const bool newKnown = in.now.placeId.has_value();

  // The grace period: a report that would take the phone out of its place is held; back in the
  // place in time, nothing happened; still away when the period is over, the change is carried
  // out. Only the tracker's own reports after a location was evaluated are held.
  const bool holdable = in.graceSeconds > 0 && in.value != 0 && old != kNoCodeYet &&
                        old != kForceEvaluationCode && old != 0;
  const std::int32_t currentPlace = PlaceOf(in.last);
  const std::int32_t newPlace = PlaceOf(in.now);
  bool graceOver = false;
  if (in.held && holdable && in.held->placeId == currentPlace) {
    if (newPlace == currentPlace) {
      d.flap = Flap{*in.held, in.nowMs - in.held->sinceMs, in.graceSeconds};
    } else if (in.nowMs < in.held->untilMs) {
      // Still away within the period: armed again, in case a notification was lost.
      d.dropHold = false;
      d.hold = in.held;
      d.note = "departure held";
      return d;
    } else {
      graceOver = true;
    }
  } else if (holdable && code != old && newPlace != currentPlace) {
    HeldDeparture held;
    held.placeId = currentPlace;
    held.sinceMs = in.nowMs;
    std::int64_t until = in.nowMs + in.graceSeconds * 1000;
    held.untilMs = (until + 999) / 1000 * 1000;
    held.code = code;
    held.cellId = in.cellId;
    held.lac = in.lac;
    d.hold = held;
    d.note = "departure held";
    return d;
  }

  if (code == old) {
    // The serving cell changed within the same area, or a forced report.
    if (in.learnCells && newKnown && in.cellId != 0)
      d.learnCell = std::make_pair(in.cellId, *in.now.placeId);
    d.note = "same location";
    return d;
  }
  if (oldKnown && !newKnown && !in.rechecked && !graceOver) {
    // Leaving a known place is often a short hop to a foreign cell: ask again before acting.
    d.recheck = true;
    return d;
  }
  d.setLastCode = code;

  // The place of the new location: its own, or the unknown place when no record names it. A
  // record naming a place that is gone is forgotten below.
  const bool placeGone = newKnown && !in.now.placeExists;
  const std::int32_t placeId = newKnown && !placeGone ? *in.now.placeId : kUnknownPlaceId;
  const auto& frames = FramesOf(in.frames, placeId);
  if (!placeGone) {
    auto inForce = FrameAt(frames, in.time);
    if (inForce && inForce->GetId() == in.currentFrameId) {
      d.note = "No hay cambio de periodo";
      return d;
    }
  }
  // A move between two unknown locations keeps the phone at the unknown place, whose frame
  // the evaluation that brought it there has entered or armed. After start, a data change, a
  // boundary or the end of a lock (no code, or the forced one) it is evaluated like any place.
  if (!oldKnown && !newKnown && code != 0 && old != kNoCodeYet && old != kForceEvaluationCode) {
    d.note = "unknown to unknown location";
    return d;
  }
  if (in.currentFrameId != -1 && in.value != 0)
    d.leaveFrameId = in.currentFrameId;
  d.clearNotification = true;
  if (placeGone)
    d.forgetLocation = code;
  std::int32_t currentFrameId = in.currentFrameId;
  if (!newKnown || placeGone) {
    d.clearCurrentFrame = true;
    currentFrameId = -1;
  }
  d.writeLastPlace = placeId;
  if (auto frame = FrameAt(frames, in.time)) {
    if (frame->GetId() != currentFrameId || old == 0)
      Enter(&d, *frame);
  } else {
    // No frame in force here; the one left must be entered again when the user comes back.
    d.clearCurrentFrame = true;
    ArmNext(&d, frames, in.time);
  }
  return d;
}

// ---- Lock ----------------------------------------------------------------------------------

Decision DecideLock(const LockInput& in) {
  Decision d;
  if (in.start) {
    d.dropHold = true;
    d.clearNotification = true;
    d.setLastCode = 0;
    if (in.currentFrameId != -1)
      d.leaveFrameId = in.currentFrameId;
  }
  Follow(&d, in.lockedPlaceFrames, in.time, -1, true);
  return d;
}

// ---- Clock changes -------------------------------------------------------------------------

std::optional<std::int32_t> TimeChangePlace(const TimeChangeInput& in) {
  if (in.locked)
    return in.lockedPlaceId;
  // An evaluation is queued and will see the new time.
  if (in.lastCode == kForceEvaluationCode)
    return std::nullopt;
  return ReevaluationPlace(in.lastCode, in.last, in.lastPlace);
}

Decision DecideTimeChange(const TimeChangeInput& in) {
  Decision d;
  if (in.manualMode) {
    d.note = "manual profile mode";
    return d;
  }
  std::optional<std::int32_t> placeId = TimeChangePlace(in);
  if (!placeId) {
    d.note = "evaluation pending";
    return d;
  }
  const auto& frames = FramesOf(in.frames, *placeId);
  auto frame = FrameAt(frames, in.time);
  if (frame && frame->GetId() == in.currentFrameId) {
    // The same frame goes on: only its end moves to the new clock.
    d.arm = Arm{kKindFrameEnd, frame->GetEnd().wHour, frame->GetEnd().wMinute};
    return d;
  }
  if (in.currentFrameId != -1)
    d.leaveFrameId = in.currentFrameId;
  d.clearNotification = true;
  Follow(&d, frames, in.time, -1, true);
  return d;
}

// ---- Timed notifications ---------------------------------------------------------------------

TimedDecision DecideTimed(const TimedInput& in) {
  TimedDecision d;
  if (in.targetId == 8) {
    // The end of a lock ends it whatever the profile mode.
    d.endLock = in.locked;
    d.ignore = !in.locked;
    return d;
  }
  if (in.targetId != 7 || in.manualMode) {
    d.ignore = true;
    return d;
  }
  if (in.param == kKindGraceEnd) {
    // The grace period of a held departure is over: the location is evaluated as a report is.
    // A lock ignores it (the lock gave the departure up).
    d.ignore = in.locked;
    if (!in.locked)
      d.evaluateValue = 1;
    return d;
  }
  int value = 1;
  if (in.param == kKindFrameEnd) {
    // The frame is over: leave it. It is no longer in force, so the evaluation enters whatever
    // applies now, the same frame again included (a whole-day frame at midnight).
    if (in.currentFrameId != -1)
      d.leaveFrameId = in.currentFrameId;
    d.clearCurrentFrame = true;
    value = 0;
  }
  if (in.locked) {
    // A locked engine follows the locked place's frames, whatever the location.
    d.followLockedPlace = true;
    return d;
  }
  if (in.radioOn)
    d.forceEvaluation = true;
  else if (in.param == kKindNextStart)
    d.setReevaluateFromLastPlace = true;
  else
    d.setReevaluateAlways = true;
  d.evaluateValue = value;
  return d;
}

// ---- Runs ----------------------------------------------------------------------------------

std::string FrameLabel(const CStrPeriod& frame) {
  return platform::FormatLimited(
      kFrameLabelChars, "%s(%02d:%02d-%02d:%02d)", frame.GetName().c_str(), frame.GetStart().wHour,
      frame.GetStart().wMinute, frame.GetEnd().wHour, frame.GetEnd().wMinute);
}

RunPlan PlanRun(const RunInput& in) {
  RunPlan plan;
  if (in.isEnd == in.lastRunIsEnd && in.frameId == in.lastRunFrameId) {
    plan.skip = true;
    return plan;
  }
  std::vector<CStrAction> actions = in.actions;
  std::stable_sort(actions.begin(), actions.end(),
                   [](const CStrAction& a, const CStrAction& b) { return a.GetId() < b.GetId(); });
  plan.placeName = in.framePlaceName;
  plan.frameName = in.frame.GetName();
  plan.actionCount = actions.size();
  if (!in.isEnd)
    plan.label = FrameLabel(in.currentFrame);
  plan.publishPlace = in.locked ? in.lockedPlaceName : in.locationPlaceName;
  plan.blinkLed = in.led && in.led->GetIntOp1() != 0 && in.led->IsEnabled() &&
                  in.led->IsActiveOnDay(in.weekday);

  // Phone radio, call forwarding and power state wait for the end of the run; each keeps its
  // action's position.
  std::optional<int> phone;
  std::optional<std::pair<int, std::string>> forward;
  std::optional<int> power;
  int phonePosition = 0;
  int forwardPosition = 0;
  int powerPosition = 0;
  int position = 0;
  auto force = [&](int mgrId, int status, int param = 0, int delayMs = 0, int at = -1) {
    RunStep step;
    step.kind = RunStep::kForce;
    step.mgrId = mgrId;
    step.status = status;
    step.param = param;
    step.delayMs = delayMs;
    step.position = at < 0 ? position : at;
    plan.steps.push_back(step);
  };
  const int direction = in.isEnd ? CStrAction::TYPE_LEAVE : CStrAction::TYPE_ENTER;
  for (const CStrAction& action : actions) {
    if (action.GetType() == direction)
      ++plan.directionCount;
  }
  for (const CStrAction& action : actions) {
    if (action.GetType() != direction)
      continue;
    ++position;
    const int mgrId = action.GetMgrId();
    const bool isManager = in.managers.count(mgrId) != 0;
    if (!action.IsEnabled() || !action.IsActiveOnDay(in.weekday)) {
      RunStep step;
      step.kind = RunStep::kSkipped;
      step.mgrId = isManager ? mgrId : -1;
      step.position = position;
      plan.steps.push_back(step);
      continue;
    }
    if (isManager) {
      switch (mgrId) {
        case kPhoneMgrId:
          phone = action.GetIntOp1();
          phonePosition = position;
          break;
        case kPowerMgrId:
          power = action.GetIntOp1();
          powerPosition = position;
          break;
        case kCallForwardMgrId:
          forward = std::make_pair(action.GetIntOp1(), action.GetSzOp1());
          forwardPosition = position;
          break;
        case kSpeakerMgrId: {
          RunStep step;
          step.kind = RunStep::kSetVolume;
          step.mgrId = mgrId;
          step.status = action.GetIntOp3();
          step.position = position;
          plan.steps.push_back(step);
          force(mgrId, action.GetIntOp1());
          break;
        }
        default:
          force(mgrId, action.GetIntOp1());
          break;
      }
      continue;
    }
    RunStep step;
    step.mgrId = mgrId;
    step.position = position;
    switch (mgrId) {
      case kActionOpenFile:
        step.kind = RunStep::kOpenFile;
        step.text = action.GetSzOp1();
        break;
      case kActionTheme:
        step.kind = RunStep::kTheme;
        step.text = action.GetSzOp1();
        break;
      case kActionRingTone:
        step.kind = RunStep::kRingTone;
        step.text = action.GetSzOp1();
        step.text2 = action.GetSzOp2();
        step.status = action.GetIntOp1();
        break;
      case kActionMail:
        step.kind = RunStep::kMail;
        step.text = action.GetSzOp1();
        step.text2 = action.GetSzOp2();
        step.text3 = action.GetSzOp3();
        break;
      case kActionSms:
        step.kind = RunStep::kSms;
        step.text = action.GetSzOp1();
        step.text3 = action.GetSzOp3();
        break;
      default:
        continue;  // the LED (blinked above) and identifiers of managers that do not exist
    }
    plan.steps.push_back(step);
  }

  auto setNumber = [&] {
    RunStep step;
    step.kind = RunStep::kSetForwardNumber;
    step.mgrId = kCallForwardMgrId;
    step.text = forward->second;
    step.position = forwardPosition;
    plan.steps.push_back(step);
  };
  if (phone && forward) {
    if (*phone == 0) {
      // The radio comes on first; forwarding needs the network, so it waits for it.
      force(kPhoneMgrId, 0, 0, 0, phonePosition);
      setNumber();
      force(kCallForwardMgrId, forward->first, 0, kForwardAfterRadioOnDelayMs, forwardPosition);
    } else {
      setNumber();
      force(kCallForwardMgrId, forward->first, 0, 0, forwardPosition);
      force(kPhoneMgrId, *phone, kRadioAfterForwardParam, 0, phonePosition);
    }
  } else if (phone) {
    force(kPhoneMgrId, *phone, 0, 0, phonePosition);
  } else if (forward) {
    setNumber();
    force(kCallForwardMgrId, forward->first, 0, 0, forwardPosition);
  }
  if (power) {
    force(kPowerMgrId, *power, 0, *power == kResetPowerState ? kResetDelayMs : 0, powerPosition);
  }
  return plan;
}

}  // namespace schedule

// The schedule engine's decisions from tables of cases: what an evaluation of a location report,
// a timed notification, a clock change, a lock and a run of a frame decide, without threads,
// a phone or a database. Each row names its case, changes a common starting point and gives
// what is decided, written out by Describe.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "location/ScheduleDecision.h"

using namespace schedule;

namespace {

CStrPeriod Frame(std::int32_t id, std::int32_t place, const char* name, int h1, int m1, int h2,
                 int m2) {
  CStrPeriod f;
  f.SetId(id);
  f.SetIdPlace(place);
  f.SetName(name);
  f.SetStart(h1, m1);
  f.SetEnd(h2, m2);
  return f;
}

// Office (place 1): Work 08-18 (10), Evening 18-22 (11). Home (2): Night 22-02 (30). The
// unknown place (0): Away all day (20).
PlaceFrames Frames() {
  return {{1, {Frame(10, 1, "Work", 8, 0, 18, 0), Frame(11, 1, "Evening", 18, 0, 22, 0)}},
          {2, {Frame(30, 2, "Night", 22, 0, 2, 0)}},
          {0, {Frame(20, 0, "Away", 0, 0, 0, 0)}}};
}

// Codes: 100 and 101 are the office's, 200 home's, 300 names a place that is gone, any other
// code is unknown.
CodeInfo Code(std::int32_t code) {
  CodeInfo info;
  info.code = code;
  if (code == 100 || code == 101)
    info.placeId = 1;
  else if (code == 200)
    info.placeId = 2;
  else if (code == 300)
    info.placeId = 5;
  info.placeExists = info.placeId && *info.placeId != 5;
  return info;
}

std::string Describe(const Decision& d) {
  std::vector<std::string> parts;
  if (d.recheck)
    parts.push_back("recheck");
  if (d.setLastCode)
    parts.push_back("last code " + std::to_string(*d.setLastCode));
  if (d.leaveFrameId)
    parts.push_back("leave " + std::to_string(*d.leaveFrameId));
  if (d.forgetLocation)
    parts.push_back("forget " + std::to_string(*d.forgetLocation));
  if (d.clearCurrentFrame)
    parts.push_back("clear");
  if (d.writeLastPlace)
    parts.push_back("last_place " + std::to_string(*d.writeLastPlace));
  if (d.enter)
    parts.push_back("enter " + std::to_string(d.enter->GetId()));
  if (d.arm) {
    char text[32];
    std::snprintf(text, sizeof text, "arm %d@%02d:%02d", d.arm->kind, d.arm->hour, d.arm->minute);
    parts.push_back(text);
  }
  if (d.noFrameForPlace)
    parts.push_back("no frame at " + std::to_string(*d.noFrameForPlace));
  if (d.learnCell) {
    parts.push_back("learn " + std::to_string(d.learnCell->first) + " for " +
                    std::to_string(d.learnCell->second));
  }
  std::string out;
  for (const auto& p : parts)
    out += (out.empty() ? "" : "; ") + p;
  return out.empty() ? "nothing" : out;
}

struct ReportCase {
  const char* name;
  std::function<void(ReportInput&)> change;
  const char* expected;
};

TEST(ScheduleDecisionTest, LocationReports) {
  // At the office at 10:00 in Work, a new report arrives.
  auto at = [](int h, int m) { return TimeOfDay(h, m); };
  const std::vector<ReportCase> cases = {
      {"another cell of the same place changes no frame",
       [](ReportInput& in) { in.now = Code(101); }, "last code 101"},
      {"a known place without a frame for now: leave, arm its start",
       [](ReportInput& in) { in.now = Code(200); },
       "last code 200; leave 10; clear; last_place 2; arm 1@22:00"},
      {"a known place with a frame: leave, enter, arm its end",
       [&](ReportInput& in) {
         in.now = Code(200);
         in.time = at(23, 30);
         in.currentFrameId = 11;
       },
       "last code 200; leave 11; last_place 2; enter 30; arm 0@02:00"},
      {"known to unknown asks the radio again first", [](ReportInput& in) { in.now = Code(999); },
       "recheck"},
      {"known to unknown, asked again: the unknown place's frame",
       [](ReportInput& in) {
         in.now = Code(999);
         in.rechecked = true;
       },
       "last code 999; leave 10; clear; last_place 0; enter 20; arm 0@00:00"},
      {"start-up at an unknown location enters the unknown place's frame",
       [](ReportInput& in) {
         in.last = Code(kNoCodeYet);
         in.now = Code(999);
         in.currentFrameId = -1;
       },
       "last code 999; clear; last_place 0; enter 20; arm 0@00:00"},
      {"a data change or boundary at an unknown location enters it again",
       [](ReportInput& in) {
         in.value = 0;
         in.last = Code(kForceEvaluationCode);
         in.now = Code(999);
         in.currentFrameId = -1;
       },
       "last code 999; clear; last_place 0; enter 20; arm 0@00:00"},
      {"an unknown place without a frame for now arms its next start",
       [](ReportInput& in) {
         in.last = Code(kForceEvaluationCode);
         in.now = Code(999);
         in.currentFrameId = -1;
         in.frames[0] = {Frame(21, 0, "Lunch", 12, 0, 13, 0)};
       },
       "last code 999; clear; last_place 0; arm 1@12:00"},
      {"unknown to unknown stays at the unknown place",
       [](ReportInput& in) {
         in.last = Code(998);
         in.now = Code(999);
         in.currentFrameId = -1;
         in.frames[0] = {Frame(21, 0, "Lunch", 12, 0, 13, 0)};
       },
       "last code 999"},
      {"a location whose place is gone is forgotten", [](ReportInput& in) { in.now = Code(300); },
       "last code 300; leave 10; forget 300; clear; last_place 0; enter 20; arm 0@00:00"},
      {"manual mode ignores locations",
       [](ReportInput& in) {
         in.manualMode = true;
         in.now = Code(200);
       },
       "nothing"},
      {"a lock ignores locations",
       [](ReportInput& in) {
         in.locked = true;
         in.now = Code(200);
       },
       "nothing"},
      {"a band switch under way ignores locations",
       [](ReportInput& in) {
         in.bandForceSwitch = true;
         in.now = Code(200);
       },
       "nothing"},
      {"the same area again learns the cell in LAC mode",
       [](ReportInput& in) {
         in.learnCells = true;
         in.cellId = 55;
       },
       "learn 55 for 1"},
      {"radio off right after start: the last place's frame",
       [](ReportInput& in) {
         in.radioOn = false;
         in.last = Code(kNoCodeYet);
         in.currentFrameId = -1;
       },
       "enter 10; arm 0@18:00"},
      {"radio off later: the position stays",
       [](ReportInput& in) {
         in.radioOn = false;
         in.now = Code(200);
       },
       "nothing"},
      {"a wake-up with the radio off finds no frame for the last place",
       [](ReportInput& in) {
         in.radioOn = false;
         in.reevaluateFromLastPlace = true;
         in.last = Code(kNoCodeYet);
         in.lastPlace = 2;
       },
       "no frame at 2"},
      {"a frame end with the radio off enters the frame for now again",
       [](ReportInput& in) {
         in.radioOn = false;
         in.reevaluateAlways = true;
       },
       "enter 10; arm 0@18:00"},
  };
  for (const auto& c : cases) {
    ReportInput in;
    in.last = Code(100);
    in.now = Code(100);
    in.lastPlace = 1;
    in.currentFrameId = 10;
    in.time = at(10, 0);
    in.frames = Frames();
    c.change(in);
    EXPECT_EQ(Describe(DecideReport(in)), c.expected) << c.name;
  }
}

TEST(ScheduleDecisionTest, TimedNotifications) {
  struct Case {
    const char* name;
    TimedInput in;
    const char* expected;
  };
  auto describe = [](const TimedDecision& d) {
    std::string out;
    auto add = [&](bool on, const std::string& s) {
      if (on)
        out += (out.empty() ? "" : "; ") + s;
    };
    add(d.ignore, "ignore");
    add(d.endLock, "end lock");
    add(d.leaveFrameId.has_value(), "leave " + std::to_string(d.leaveFrameId.value_or(-1)));
    add(d.clearCurrentFrame, "clear");
    add(d.followLockedPlace, "follow lock");
    add(d.forceEvaluation, "force");
    add(d.setReevaluateFromLastPlace, "from last place");
    add(d.setReevaluateAlways, "always");
    add(d.evaluateValue.has_value(), "evaluate " + std::to_string(d.evaluateValue.value_or(-1)));
    return out;
  };
  const std::vector<Case> cases = {
      {"frame end",
       {7, kKindFrameEnd, false, false, true, 10},
       "leave 10; clear; force; evaluate 0"},
      {"next start", {7, kKindNextStart, false, false, true, -1}, "force; evaluate 1"},
      {"next start, radio off",
       {7, kKindNextStart, false, false, false, -1},
       "from last place; evaluate 1"},
      {"frame end, radio off",
       {7, kKindFrameEnd, false, false, false, 10},
       "leave 10; clear; always; evaluate 0"},
      {"frame end while locked",
       {7, kKindFrameEnd, false, true, true, 10},
       "leave 10; clear; follow lock"},
      {"manual mode ignores boundaries", {7, kKindFrameEnd, true, false, true, 10}, "ignore"},
      {"the end of a lock in manual mode", {8, 0, true, true, true, 10}, "end lock"},
      {"the end of a lock that has ended", {8, 0, false, false, true, 10}, "ignore"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(describe(DecideTimed(c.in)), c.expected) << c.name;
}

struct ClockCase {
  const char* name;
  std::function<void(TimeChangeInput&)> change;
  const char* expected;
};

TEST(ScheduleDecisionTest, ClockChanges) {
  const std::vector<ClockCase> cases = {
      {"back within the frame: only its end is armed again",
       [](TimeChangeInput& in) { in.time = TimeOfDay(9, 0); }, "arm 0@18:00"},
      {"back into another frame: leave, enter", [](TimeChangeInput& in) { in.currentFrameId = 11; },
       "leave 11; enter 10; arm 0@18:00"},
      {"back before every frame: leave, arm the next start",
       [](TimeChangeInput& in) { in.time = TimeOfDay(7, 0); }, "leave 10; clear; arm 1@08:00"},
      {"locked: the locked place's frames",
       [](TimeChangeInput& in) {
         in.locked = true;
         in.lockedPlaceId = 2;
         in.currentFrameId = 30;
         in.time = TimeOfDay(1, 0);
       },
       "arm 0@02:00"},
      {"at an unknown location: the unknown place's frame",
       [](TimeChangeInput& in) {
         in.lastCode = 999;
         in.last = Code(999);
         in.lastPlace = 0;
         in.currentFrameId = -1;
       },
       "enter 20; arm 0@00:00"},
      {"radio off: the last place", [](TimeChangeInput& in) { in.lastCode = kNoCodeYet; },
       "arm 0@18:00"},
      {"an evaluation pending sees the new time itself",
       [](TimeChangeInput& in) { in.lastCode = kForceEvaluationCode; }, "nothing"},
      {"manual mode", [](TimeChangeInput& in) { in.manualMode = true; }, "nothing"},
  };
  for (const auto& c : cases) {
    TimeChangeInput in;
    in.lastCode = 100;
    in.last = Code(100);
    in.lastPlace = 1;
    in.currentFrameId = 10;
    in.time = TimeOfDay(10, 0);
    in.frames = Frames();
    c.change(in);
    EXPECT_EQ(Describe(DecideTimeChange(in)), c.expected) << c.name;
  }
}

TEST(ScheduleDecisionTest, Locks) {
  PlaceFrames frames = Frames();
  LockInput start{true, 10, frames[2], TimeOfDay(23, 0)};
  EXPECT_EQ(Describe(DecideLock(start)), "last code 0; leave 10; enter 30; arm 0@02:00");
  LockInput boundary{false, -1, frames[2], TimeOfDay(2, 0)};
  EXPECT_EQ(Describe(DecideLock(boundary)), "clear; arm 1@22:00");
}

CStrAction Action(std::int32_t id, int mgrId, int type, int intOp1, const std::string& sz = "",
                  int mask = 0) {
  CStrAction a;
  a.SetId(id);
  a.SetMgrId(mgrId);
  a.SetType(type);
  a.SetIntOp1(intOp1);
  a.SetIntOp2(mask);
  a.SetIntOp3(4);
  a.SetSzOp1(sz);
  a.SetSzOp3("text");
  return a;
}

std::string Describe(const RunPlan& plan) {
  if (plan.skip)
    return "skip";
  std::string out = plan.blinkLed ? "led" : "";
  for (const RunStep& s : plan.steps) {
    std::string step;
    switch (s.kind) {
      case RunStep::kSkipped:
        step = "skipped " + std::to_string(s.mgrId);
        break;
      case RunStep::kForce:
        step = "force " + std::to_string(s.mgrId) + "=" + std::to_string(s.status);
        if (s.param)
          step += " param " + std::to_string(s.param);
        if (s.delayMs)
          step += " delay " + std::to_string(s.delayMs);
        break;
      case RunStep::kSetVolume:
        step = "volume " + std::to_string(s.status);
        break;
      case RunStep::kSetForwardNumber:
        step = "number " + s.text;
        break;
      case RunStep::kOpenFile:
        step = "open " + s.text;
        break;
      case RunStep::kTheme:
        step = "theme " + s.text;
        break;
      case RunStep::kRingTone:
        step = "ring " + s.text;
        break;
      case RunStep::kMail:
        step = "mail " + s.text;
        break;
      case RunStep::kSms:
        step = "sms " + s.text + " " + s.text3;
        break;
    }
    out += (out.empty() ? "" : "; ") + step;
  }
  return out;
}

TEST(ScheduleDecisionTest, Runs) {
  struct Case {
    const char* name;
    std::vector<CStrAction> actions;
    const char* expected;
  };
  const int enter = CStrAction::TYPE_ENTER;
  const std::vector<Case> cases = {
      {"radio, forwarding and power come last, radio off after forwarding",
       {Action(1, kPhoneMgrId, enter, 1), Action(2, kPowerMgrId, enter, kResetPowerState),
        Action(3, kCallForwardMgrId, enter, 1, "+34600"), Action(4, 0, enter, 1),
        Action(5, kSpeakerMgrId, enter, 2), Action(6, 1, CStrAction::TYPE_LEAVE, 1)},
       "force 0=1; volume 4; force 2=2; number +34600; force 51=1; force 3=1 param 10000; "
       "force 9=8388608 delay 10000"},
      {"radio on comes before forwarding, which waits for the network",
       {Action(1, kCallForwardMgrId, enter, 0, "+34600"), Action(2, kPhoneMgrId, enter, 0)},
       "force 3=0; number +34600; force 51=0 delay 120000"},
      {"disabled or not today: a skipped record, by manager or built-in",
       {Action(1, 0, enter, 1, "", 1), Action(2, 1, enter, 1, "", 10),
        Action(3, kActionSms, enter, 0, "+34", 1), Action(4, 50, enter, 1, "", 100)},
       "skipped 0; skipped 1; skipped -1; force 50=1"},
      {"built-in actions in Id order; a manager that does not exist does nothing",
       {Action(5, kActionSms, enter, 0, "+34"), Action(1, kActionOpenFile, enter, 0, "a.txt"),
        Action(2, kActionLed, enter, 1), Action(3, kActionMail, enter, 0, "boss@x"),
        Action(4, 77, enter, 1), Action(6, kActionTheme, enter, 0, "Ocean"),
        Action(7, kActionRingTone, enter, 3, "r.wav")},
       "led; open a.txt; mail boss@x; sms +34 text; theme Ocean; ring r.wav"},
  };
  for (const auto& c : cases) {
    RunInput in;
    in.frameId = 10;
    in.frame = Frame(10, 1, "Work", 8, 0, 18, 0);
    in.currentFrame = in.frame;
    in.actions = c.actions;
    for (const auto& a : c.actions) {
      if (a.GetMgrId() == kActionLed)
        in.led = a;
    }
    in.weekday = 1;  // Monday
    in.managers = {0, 1, 2, 3, 9, 50, 51};
    EXPECT_EQ(Describe(PlanRun(in)), c.expected) << c.name;
  }

  RunInput again;
  again.frameId = 10;
  again.lastRunFrameId = 10;
  EXPECT_EQ(Describe(PlanRun(again)), "skip");
  again.isEnd = true;
  again.frame = Frame(10, 1, "Work", 8, 0, 18, 0);
  again.locationPlaceName = "Office";
  RunPlan leave = PlanRun(again);
  EXPECT_FALSE(leave.skip);
  EXPECT_EQ(leave.label, "");
  EXPECT_EQ(leave.publishPlace, "Office");
  again.isEnd = false;
  again.frameId = 11;
  again.currentFrame = Frame(11, 1, "Evening", 18, 0, 22, 30);
  again.locked = true;
  again.lockedPlaceName = "Home";
  RunPlan enterLocked = PlanRun(again);
  EXPECT_EQ(enterLocked.label, "Evening(18:00-22:30)");
  EXPECT_EQ(enterLocked.publishPlace, "Home");
}

}  // namespace

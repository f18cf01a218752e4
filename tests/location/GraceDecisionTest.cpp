// The grace period in the engine's decisions, without threads: which reports hold a departure
// from the current place, which end it (back in time, the period over, or anything that is not
// a plain report), and what the notification at its end decides.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "location/ScheduleDecision.h"

using namespace schedule;

namespace {

CStrPeriod Frame(std::int32_t id, std::int32_t place, const char* name, int h1, int h2) {
  CStrPeriod f;
  f.SetId(id);
  f.SetIdPlace(place);
  f.SetName(name);
  f.SetStart(h1, 0);
  f.SetEnd(h2, 0);
  return f;
}

// 100 and 101 are the office's (place 1), 200 home's (place 2); other codes are unknown.
CodeInfo Code(std::int32_t code) {
  CodeInfo info;
  info.code = code;
  if (code == 100 || code == 101)
    info.placeId = 1;
  else if (code == 200)
    info.placeId = 2;
  info.placeExists = info.placeId.has_value();
  return info;
}

constexpr std::int64_t kT0 = 1'000'000'000;

HeldDeparture Held(std::int32_t place, std::int32_t code, std::int64_t since) {
  HeldDeparture h;
  h.placeId = place;
  h.sinceMs = since;
  h.untilMs = since + 120'000;
  h.code = code;
  h.cellId = 7;
  h.lac = code;
  return h;
}

std::string Describe(const Decision& d) {
  std::vector<std::string> parts;
  if (d.dropHold)
    parts.push_back("drop");
  if (d.hold) {
    parts.push_back("hold place " + std::to_string(d.hold->placeId) + " code " +
                    std::to_string(d.hold->code) + " until +" +
                    std::to_string(d.hold->untilMs - kT0));
  }
  if (d.flap) {
    parts.push_back("flap " + std::to_string(d.flap->held.code) + " away " +
                    std::to_string(d.flap->awayMs));
  }
  if (d.recheck)
    parts.push_back("recheck");
  if (d.setLastCode)
    parts.push_back("last code " + std::to_string(*d.setLastCode));
  if (d.leaveFrameId)
    parts.push_back("leave " + std::to_string(*d.leaveFrameId));
  if (d.writeLastPlace)
    parts.push_back("last_place " + std::to_string(*d.writeLastPlace));
  if (d.enter)
    parts.push_back("enter " + std::to_string(d.enter->GetId()));
  std::string out;
  for (const auto& p : parts)
    out += (out.empty() ? "" : "; ") + p;
  return out.empty() ? "nothing" : out;
}

struct Case {
  const char* name;
  std::function<void(ReportInput&)> change;
  const char* expected;
};

TEST(GraceDecisionTest, DeparturesAreHeldAbsorbedOrCarriedOut) {
  const std::vector<Case> cases = {
      {"grace 0: leaving at once, as without a grace period",
       [](ReportInput& in) {
         in.graceSeconds = 0;
         in.now = Code(200);
       },
       "last code 200; leave 10; last_place 2; enter 30"},
      {"grace 0: known to unknown asks the radio again",
       [](ReportInput& in) {
         in.graceSeconds = 0;
         in.now = Code(999);
       },
       "recheck"},
      {"another place is held", [](ReportInput& in) { in.now = Code(200); },
       "hold place 1 code 200 until +120000"},
      {"the unknown place is held without asking the radio again",
       [](ReportInput& in) { in.now = Code(999); }, "hold place 1 code 999 until +120000"},
      {"the end of the period is a whole second",
       [](ReportInput& in) {
         in.now = Code(999);
         in.nowMs = kT0 + 250;
       },
       "hold place 1 code 999 until +121000"},
      {"another location of the same place is no departure",
       [](ReportInput& in) { in.now = Code(101); }, "last code 101"},
      {"leaving the unknown place for a known one is held too",
       [](ReportInput& in) {
         in.last = Code(998);
         in.currentFrameId = 20;
         in.now = Code(100);
       },
       "hold place 0 code 100 until +120000"},
      {"unknown to unknown stays at the unknown place",
       [](ReportInput& in) {
         in.last = Code(998);
         in.currentFrameId = 20;
         in.now = Code(999);
       },
       "last code 999"},
      {"the first location after start is not held",
       [](ReportInput& in) {
         in.last = Code(kNoCodeYet);
         in.currentFrameId = -1;
         in.now = Code(200);
       },
       "last code 200; last_place 2; enter 30"},
      {"back on the same location in time: one flap, nothing left",
       [](ReportInput& in) { in.held = Held(1, 999, kT0 - 30'000); }, "drop; flap 999 away 30000"},
      {"back on another location of the place in time",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 30'000);
         in.now = Code(101);
       },
       "drop; flap 999 away 30000; last code 101"},
      {"still away within the period: held on",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 119'999);
         in.now = Code(998);
       },
       "hold place 1 code 999 until +1"},
      {"still away when the period is over: carried out, no second asking",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 120'000);
         in.now = Code(998);
       },
       "drop; last code 998; leave 10; last_place 0; enter 20"},
      {"a data change while held is evaluated as without a grace period",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 10'000);
         in.value = 0;
         in.last = Code(kForceEvaluationCode);
         in.currentFrameId = -1;
         in.now = Code(999);
       },
       "drop; last code 999; last_place 0; enter 20"},
      {"manual mode gives the held departure up",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 10'000);
         in.manualMode = true;
         in.now = Code(999);
       },
       "drop"},
      {"the radio going off gives it up: the position stays",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 10'000);
         in.radioOn = false;
         in.now = Code(0);
       },
       "drop"},
      {"a band switch under way keeps it",
       [](ReportInput& in) {
         in.held = Held(1, 999, kT0 - 10'000);
         in.bandForceSwitch = true;
         in.now = Code(999);
       },
       "nothing"},
  };
  for (const auto& c : cases) {
    ReportInput in;
    in.last = Code(100);
    in.now = Code(100);
    in.lastPlace = 1;
    in.currentFrameId = 10;
    in.time = TimeOfDay(10, 0);
    in.frames = {{1, {Frame(10, 1, "Work", 8, 18)}},
                 {2, {Frame(30, 2, "Day", 0, 0)}},
                 {0, {Frame(20, 0, "Away", 0, 0)}}};
    in.graceSeconds = 120;
    in.nowMs = kT0;
    c.change(in);
    EXPECT_EQ(Describe(DecideReport(in)), c.expected) << c.name;
  }
}

TEST(GraceDecisionTest, TheEndOfThePeriodEvaluatesUnlessLockedAndALockGivesItUp) {
  TimedInput grace{7, kKindGraceEnd, false, false, true, 10};
  TimedDecision d = DecideTimed(grace);
  EXPECT_FALSE(d.ignore);
  EXPECT_EQ(d.evaluateValue, 1);
  // Neither a frame left nor a forced evaluation: the report path decides.
  EXPECT_FALSE(d.leaveFrameId.has_value());
  EXPECT_FALSE(d.forceEvaluation);

  grace.locked = true;
  EXPECT_TRUE(DecideTimed(grace).ignore);
  grace.locked = false;
  grace.manualMode = true;
  EXPECT_TRUE(DecideTimed(grace).ignore);

  LockInput lock;
  lock.start = true;
  EXPECT_TRUE(DecideLock(lock).dropHold);
}

TEST(GraceDecisionTest, ActionsKnowTheirPositionInTheFrame) {
  RunInput in;
  in.frameId = 10;
  in.frame = Frame(10, 1, "Work", 8, 18);
  in.managers = {0, 1, 3};
  auto action = [](std::int32_t id, int mgrId, int type, int value) {
    CStrAction a;
    a.SetId(id);
    a.SetIdPeriod(10);
    a.SetMgrId(mgrId);
    a.SetType(type);
    a.SetIntOp1(value);
    return a;
  };
  // Entering: the phone radio first by Id but run last; a leaving action is not counted.
  in.actions = {action(5, 0, CStrAction::TYPE_ENTER, 1), action(2, 3, CStrAction::TYPE_ENTER, 0),
                action(3, 1, CStrAction::TYPE_LEAVE, 0), action(9, 1, CStrAction::TYPE_ENTER, 2)};
  RunPlan plan = PlanRun(in);
  EXPECT_EQ(plan.directionCount, 3);
  std::vector<std::pair<int, int>> forces;  // (manager, position)
  for (const RunStep& step : plan.steps) {
    if (step.kind == RunStep::kForce)
      forces.emplace_back(step.mgrId, step.position);
  }
  EXPECT_EQ(forces, (std::vector<std::pair<int, int>>{{0, 2}, {1, 3}, {3, 1}}));
}

}  // namespace

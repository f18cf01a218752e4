// A replay of recorded days: the program's own schedule engine and cell tracker run on a
// private device with a virtual clock, against a profile set, fed with the rows of day traces
// (location/DayTrace.h). Managers are stand-ins that only record what they are asked to set;
// built-in actions, messages and the engine's calls into managers are recorded the same way.
// The phone itself is never opened: its database is only read when it is the profile set.
//
// Each row is applied at its own time: the clock first stands at every timed notification the
// engine armed before it (frame boundaries), which is fired as the phone's runner would, then at
// the row, whose change reaches the cell tracker through the private phone's radio. After each
// step the replay waits until the radio, the tracker and the engine have done everything it
// caused, so the timeline does not depend on the speed of the machine.
//
// Threads: one thread drives a session; the session owns the process's current device, the
// profile database, the managers and the schedule engine while it lives, so one session exists
// at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "location/DayTrace.h"

namespace replay {

// A bad argument, file or profile set; the text says which and why.
class ReplayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One thing that happened during the replay.
struct TimelineEvent {
  enum Kind {
    kStart,
    kLocation,
    kRadio,
    kClock,
    kEnter,
    kLeave,
    kAction,
    kFlap,
    kStop,
    kLock,
    kUnlock,
    kData
  };
  std::int64_t timeMs = 0;  // device local time (platform::SystemTimeToMs)
  Kind kind = kLocation;
  std::int32_t cellId = 0;
  std::int32_t lac = 0;
  // The place of a location (-1: none known), the place of a frame, the place a flap kept.
  std::int32_t placeId = -1;
  std::string place;
  // The frame entered or left, or the one whose run made an action.
  std::int32_t frameId = -1;
  std::string frame;
  // Action: what it would do; radio: "on"/"off"; flap: the seconds the other location lasted;
  // lock: why it was left out, when it was.
  std::string text;
  // Enter, leave: the frame was already in force when the trace began (the day's first rows,
  // with the lock the day began in).
  bool carried = false;
  // Action: the manager is not allowed to switch ("mgr_config"), so nothing would change.
  bool refused = false;
};

struct ReplayResult {
  std::vector<TimelineEvent> events;
  // The frames the traced program entered and left, as recorded (the comparison's reference).
  std::vector<DayTraceRow> recorded;
  // The dates the traces cover, "YYYY-MM-DD", in order.
  std::vector<std::string> days;
  // The time of the traces' last row: the replay goes on to the end of that day, the record
  // only up to here.
  std::int64_t recordedUntilMs = 0;
};

// Reads one trace file; rows in file order. Throws ReplayError naming the file and line.
std::vector<DayTraceRow> ReadTrace(const std::filesystem::path& file);

// "HH:MM:SS" of a device time, and the full "YYYY-MM-DD HH:MM:SS".
std::string TimeText(std::int64_t ms);
std::string DateTimeText(std::int64_t ms);

// The timeline as text, one line per event.
std::string FormatTimeline(const ReplayResult& result);
// How the replay's frame entries and leavings up to the traces' last row compare with the
// recorded ones: a summary line, then the first differences. `same` tells whether they are equal.
std::string CompareWithRecord(const ReplayResult& result, bool* same);
// The day (or days) as an SVG picture: per day, a band per place over 24 hours with the time
// the phone was there, the frames in force, the action marks and the absorbed flaps.
std::string DrawSvg(const ReplayResult& result);

class CReplaySession {
 public:
  struct Options {
    // The profile set: an XML file, or a database volume file (the phone's own when both are
    // empty).
    std::filesystem::path profilesXml;
    std::filesystem::path database;
    // Where the translations are read from when the phone has none (the source tree).
    std::filesystem::path assetDir;
  };

  // Sets up the private device with the settings of the traces' first start (or day) row and
  // loads the profile set. Throws ReplayError.
  CReplaySession(const Options& options, const std::vector<DayTraceRow>& rows);
  ~CReplaySession();
  CReplaySession(const CReplaySession&) = delete;
  CReplaySession& operator=(const CReplaySession&) = delete;

  // Replays the rows (in order) and returns the timeline.
  ReplayResult Run();
  // Findings about the profile set and the replay: frames that overlap, places without a
  // location, frames never entered, actions for managers that "mgr_config" does not let
  // switch. One line each.
  std::vector<std::string> Check(const ReplayResult& result);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace replay

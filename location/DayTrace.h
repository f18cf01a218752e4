// The day's trace: what the phone went through and what the schedule made of it, one CSV file
// per device date in the program folder's "traces" folder ("traces/2026-12-08.csv"), so that a
// day can be replayed later against the same or another profile set (telvane-replay).
//
// The cell tracker notes every change of serving cell, signal and radio; the schedule engine
// notes every frame it enters or leaves. Each note becomes one row holding the state after it:
//
//   time,event,cell,area,signal,radio,place,frame,detail
//
//   time    device local time, "YYYY-MM-DD HH:MM:SS"
//   event   start     the program started; detail holds the settings that shape the schedule
//           day       first row of a day's file after midnight: the state carried over, with the
//                     place and frame in force, at 00:00:00; detail as for start
//           location  the serving cell changed
//           signal    the signal percentage changed
//           radio     the phone radio was switched on or off
//           enter, leave  a frame was entered or left: its place and its label "Name(HH:MM-HH:MM)"
//           flap      a short visit to another location was absorbed: place is the place kept,
//                     cell and area the location seen, detail the seconds it lasted
//           clock     the phone's clock was set; time is the new time
//           stop      the program ended (in order; a program that was killed writes none)
//           lock      the location was locked to a place: place is that place, whose frames are
//                     followed whatever the location, until the next unlock row. A day whose
//                     file begins while a lock holds has a lock row right after its day row
//           unlock    the lock ended (by the user or by its time limit)
//           data      the profile set was changed (places, locations, frames or actions): the
//                     frame in force was looked up again
//   cell, area  serving cell identifier and location area code (0 = none)
//   signal  percentage, -1 while unknown
//   radio   on or off
//   detail  start and day: the settings as "key=value" pairs separated by ';'
//
// Texts are quoted as CSV wants when they hold a comma, a quote or a line end. The setting
// "trace_days" keeps that many days of files (0 = no trace is written; the files of older days
// are removed when a new day's file is begun).
//
// Notes cost the caller a short lock: the running program's rows are written by a writer thread
// of their own, never on the noting thread. A replay sets a sink instead, which gets every note
// on the noting thread and writes nothing.
//
// Threads: every function may be called from any thread. StartWriting and StopWriting are
// called by the program's owner of the object graph (start-up and exit), SetSink by a replay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Time.h"

struct DayTraceRow {
  enum Event {
    kStart,
    kDay,
    kLocation,
    kSignal,
    kRadio,
    kEnter,
    kLeave,
    kFlap,
    kClock,
    kStop,
    kLock,
    kUnlock,
    kData
  };

  platform::SYSTEMTIME time;
  Event event = kLocation;
  std::int32_t cellId = 0;
  std::int32_t lac = 0;
  int signal = -1;
  bool radioOn = true;
  std::string place;
  std::string frame;
  std::string detail;
  // Not written: the frame's Id (enter, leave), for a replay's own sink.
  std::int32_t frameId = -1;
};

// Receives the notes of a replay, on the noting thread (the radio's, the engine's worker).
class IDayTraceSink {
 public:
  virtual ~IDayTraceSink() = default;
  virtual void OnDayTraceRow(const DayTraceRow& row) = 0;
};

class CDayTrace {
 public:
  static constexpr const char* kDaysKey = "trace_days";
  static constexpr int kDefaultDays = 7;
  static constexpr const char* kFolderName = "traces";
  static constexpr const char* kHeader = "time,event,cell,area,signal,radio,place,frame,detail";
  // The settings a start or day row carries.
  static const std::vector<const char*>& TracedSettings();

  // ---- Notes (any thread; nothing happens while neither the writer nor a sink is set) -------
  static void NoteLocation(std::int32_t cellId, std::int32_t lac);
  static void NoteSignal(int percent);
  static void NoteRadio(bool on);
  static void NoteFrame(bool leave, std::int32_t frameId, const std::string& place,
                        const std::string& frame);
  static void NoteFlap(const std::string& placeKept, std::int32_t cellId, std::int32_t lac,
                       int seconds);
  static void NoteClock();
  // The lock to `place` began; an unlock without a lock is no row.
  static void NoteLock(const std::string& place);
  static void NoteUnlock();
  static void NoteData();

  // ---- The running program ----------------------------------------------------------------
  // Starts the writer of the current device's program folder and notes the start with the
  // settings of now, unless "trace_days" is 0. A second call does nothing.
  static void StartWriting();
  // Notes the end, writes what is queued, then stops the writer. Nothing is noted afterwards.
  static void StopWriting();

  // ---- A replay ---------------------------------------------------------------------------
  // Notes go to `sink` (null: none) instead of any file. The sink must outlive its setting.
  static void SetSink(IDayTraceSink* sink);

  // ---- The file format, shared with whoever reads it ---------------------------------------
  static const char* EventName(DayTraceRow::Event event);
  // False for an unknown name.
  static bool ParseEvent(const std::string& name, DayTraceRow::Event* out);
  // The row's line, without its line end.
  static std::string FormatRow(const DayTraceRow& row);
  // Splits one line into its fields, undoing the quoting; false when a quote is left open.
  static bool SplitLine(const std::string& line, std::vector<std::string>* fields);
  // "YYYY-MM-DD.csv" for the date of `time`.
  static std::string FileName(const platform::SYSTEMTIME& time);
  // The settings now, as a detail text.
  static std::string SettingsDetail();
};

#include "location/DayTrace.h"

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "app/RegistrySettings.h"
#include "app/Trace.h"
#include "platform/Device.h"
#include "platform/Ril.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kDayMs = 24LL * 60 * 60 * 1000;
// The change of the signal percentage that makes a signal row.
constexpr int kSignalStep = 5;

const char* const kEventNames[] = {"start", "day",    "location", "signal", "radio",
                                   "enter", "leave",  "flap",     "clock",  "stop",
                                   "lock",  "unlock", "data"};

// A row on its way to the file, with the place and frame in force after it (for the day row
// that a later row of another date begins its file with).
struct Queued {
  DayTraceRow row;
  std::string placeInForce;
  std::string frameInForce;
  std::string lockedPlace;
};

struct State {
  std::mutex mutex;  // guards everything below
  std::condition_variable wake;
  // The phone's state after the last note.
  std::int32_t cellId = 0;
  std::int32_t lac = 0;
  int signal = -1;
  int signalRow = -1;  // the signal of the last signal row
  bool radioOn = true;
  std::string placeInForce;
  std::string frameInForce;
  std::string lockedPlace;  // the place of the lock that holds, empty when none

  IDayTraceSink* sink = nullptr;
  bool writing = false;
  bool stop = false;
  std::deque<Queued> queue;
  std::thread writer;
  fs::path folder;
};

State& S() {
  static State* state = new State();  // never destroyed: notes may come late at exit
  return *state;
}

std::string Date(const platform::SYSTEMTIME& t) {
  return platform::Format("%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
}

std::string Quote(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  return out + "\"";
}

// Takes a note: completes the row from the state (under the lock), then hands it to the sink or
// the writer. `update` changes the state and the row, and returns false when nothing changed.
template <class Update>
void Note(DayTraceRow::Event event, Update update) {
  State& s = S();
  DayTraceRow row;
  IDayTraceSink* sink;
  {
    std::lock_guard lock(s.mutex);
    if (!s.sink && !s.writing)
      return;
    row.event = event;
    row.time = platform::Clock::LocalTime();
    if (!update(s, row))
      return;
    row.cellId = row.event == DayTraceRow::kFlap ? row.cellId : s.cellId;
    row.lac = row.event == DayTraceRow::kFlap ? row.lac : s.lac;
    row.signal = s.signal;
    row.radioOn = s.radioOn;
    sink = s.sink;
    if (!sink) {
      s.queue.push_back({row, s.placeInForce, s.frameInForce, s.lockedPlace});
      s.wake.notify_one();
      return;
    }
  }
  sink->OnDayTraceRow(row);
}

// Removes the files of days before the `days` most recent ones, counting `today`.
void Prune(const fs::path& folder, const platform::SYSTEMTIME& today, int days) {
  platform::SYSTEMTIME midnight = today;
  midnight.wHour = midnight.wMinute = midnight.wSecond = midnight.wMilliseconds = 0;
  std::int64_t oldestKept = platform::SystemTimeToMs(midnight) - (days - 1) * kDayMs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    platform::SYSTEMTIME date;
    if (name.size() != 14 || entry.path().extension() != ".csv" ||
        !platform::ParseSystemTime(name.substr(0, 10) + " 00:00:00", &date)) {
      continue;
    }
    if (platform::SystemTimeToMs(date) < oldestKept) {
      fs::remove(entry.path(), ec);
      Trace(TRACE_INFO, "CDayTrace: removed %s", name.c_str());
    }
  }
}

int Days() {
  return static_cast<int>(CRegistrySettings::Instance()->GetDWORD(CDayTrace::kDaysKey));
}

void WriterLoop() {
  State& s = S();
  std::ofstream file;
  std::string fileDate;
  std::optional<Queued> last;
  std::unique_lock lock(s.mutex);
  for (;;) {
    s.wake.wait(lock, [&] { return s.stop || !s.queue.empty(); });
    if (s.queue.empty() && s.stop)
      break;
    std::deque<Queued> batch;
    batch.swap(s.queue);
    fs::path folder = s.folder;
    lock.unlock();
    for (Queued& q : batch) {
      std::string date = Date(q.row.time);
      if (date != fileDate) {
        file.close();
        fileDate = date;
        std::error_code ec;
        fs::create_directories(folder, ec);
        fs::path path = folder / CDayTrace::FileName(q.row.time);
        bool fresh = !fs::exists(path, ec) || fs::file_size(path, ec) == 0;
        file.open(path, std::ios::app | std::ios::binary);
        if (!file)
          Trace(TRACE_ERROR, "CDayTrace: cannot write %s", path.string().c_str());
        if (fresh)
          file << CDayTrace::kHeader << "\r\n";
        // A day begun by a later row starts with the state the day before ended in.
        if (last && q.row.event != DayTraceRow::kStart) {
          DayTraceRow day = last->row;
          day.event = DayTraceRow::kDay;
          day.time = q.row.time;
          day.time.wHour = day.time.wMinute = day.time.wSecond = day.time.wMilliseconds = 0;
          day.place = last->placeInForce;
          day.frame = last->frameInForce;
          day.detail = CDayTrace::SettingsDetail();
          file << CDayTrace::FormatRow(day) << "\r\n";
          // A replay of this day alone learns of a lock from the day before here.
          if (!last->lockedPlace.empty()) {
            DayTraceRow lockRow = day;
            lockRow.event = DayTraceRow::kLock;
            lockRow.place = last->lockedPlace;
            lockRow.frame.clear();
            lockRow.detail.clear();
            file << CDayTrace::FormatRow(lockRow) << "\r\n";
          }
        }
        int days = Days();
        if (days > 0)
          Prune(folder, q.row.time, days);
      }
      file << CDayTrace::FormatRow(q.row) << "\r\n";
      last = q;
    }
    file.flush();
    lock.lock();
  }
}

}  // namespace

const std::vector<const char*>& CDayTrace::TracedSettings() {
  static const std::vector<const char*> keys = {
      "location_mode", "intelligent_lac_mode", "profile_change_mode",   "last_place",
      "language",      "mgr_config",           "location_grace_seconds"};
  return keys;
}

std::string CDayTrace::SettingsDetail() {
  CRegistrySettings* settings = CRegistrySettings::Instance();
  std::string detail;
  for (const char* key : TracedSettings()) {
    std::string value = settings->GetString(key);
    if (value.empty())
      value = std::to_string(settings->GetDWORD(key));
    if (!detail.empty())
      detail += ';';
    detail += std::string(key) + "=" + value;
  }
  return detail;
}

void CDayTrace::NoteLocation(std::int32_t cellId, std::int32_t lac) {
  Note(DayTraceRow::kLocation, [&](State& s, DayTraceRow&) {
    s.cellId = cellId;
    s.lac = lac;
    return true;
  });
}

void CDayTrace::NoteSignal(int percent) {
  Note(DayTraceRow::kSignal, [&](State& s, DayTraceRow&) {
    s.signal = percent;
    // A radio reports every small swing; a row is worth it from a few points on, or when the
    // signal is lost or comes back. Other rows carry the latest value anyway.
    bool worth =
        std::abs(percent - s.signalRow) >= kSignalStep || (percent <= 0) != (s.signalRow <= 0);
    if (worth)
      s.signalRow = percent;
    return worth;
  });
}

void CDayTrace::NoteRadio(bool on) {
  Note(DayTraceRow::kRadio, [&](State& s, DayTraceRow&) {
    // The phone manager reports its status again and again; only a switch is a row.
    if (s.radioOn == on)
      return false;
    s.radioOn = on;
    if (!on) {
      // Switched off, the phone has no cell and no signal until it registers again.
      s.cellId = s.lac = 0;
      s.signal = 0;
    }
    return true;
  });
}

void CDayTrace::NoteFrame(bool leave, std::int32_t frameId, const std::string& place,
                          const std::string& frame) {
  Note(leave ? DayTraceRow::kLeave : DayTraceRow::kEnter, [&](State& s, DayTraceRow& row) {
    row.place = place;
    row.frame = frame;
    row.frameId = frameId;
    s.placeInForce = place;
    s.frameInForce = leave ? "" : frame;
    return true;
  });
}

void CDayTrace::NoteFlap(const std::string& placeKept, std::int32_t cellId, std::int32_t lac,
                         int seconds) {
  Note(DayTraceRow::kFlap, [&](State&, DayTraceRow& row) {
    row.place = placeKept;
    row.cellId = cellId;
    row.lac = lac;
    row.detail = std::to_string(seconds);
    return true;
  });
}

void CDayTrace::NoteClock() {
  Note(DayTraceRow::kClock, [](State&, DayTraceRow&) { return true; });
}

void CDayTrace::NoteLock(const std::string& place) {
  Note(DayTraceRow::kLock, [&](State& s, DayTraceRow& row) {
    s.lockedPlace = place;
    row.place = place;
    return true;
  });
}

void CDayTrace::NoteUnlock() {
  Note(DayTraceRow::kUnlock, [](State& s, DayTraceRow&) {
    if (s.lockedPlace.empty())
      return false;
    s.lockedPlace.clear();
    return true;
  });
}

void CDayTrace::NoteData() {
  Note(DayTraceRow::kData, [](State&, DayTraceRow&) { return true; });
}

void CDayTrace::StartWriting() {
  platform::Device* dev = platform::Device::Current();
  if (!dev || Days() <= 0)
    return;
  State& s = S();
  {
    std::lock_guard lock(s.mutex);
    if (s.writing)
      return;
    s.folder = dev->ProgramFolder() / kFolderName;
    s.writing = true;
    s.stop = false;
    // Nothing is known yet but the radio; the tracker's first reports fill the rest in.
    s.cellId = s.lac = 0;
    s.signal = s.signalRow = -1;
    s.placeInForce.clear();
    s.frameInForce.clear();
    s.lockedPlace.clear();
    s.radioOn = platform::ril::RadioIsOn();
    s.writer = std::thread(WriterLoop);
  }
  std::string detail = SettingsDetail();
  Note(DayTraceRow::kStart, [&](State&, DayTraceRow& row) {
    row.detail = detail;
    return true;
  });
}

void CDayTrace::StopWriting() {
  State& s = S();
  Note(DayTraceRow::kStop, [&](State& state, DayTraceRow&) { return state.writing; });
  std::thread writer;
  {
    std::lock_guard lock(s.mutex);
    if (!s.writing)
      return;
    s.writing = false;
    s.stop = true;
    writer.swap(s.writer);
  }
  s.wake.notify_all();
  if (writer.joinable())
    writer.join();
}

void CDayTrace::SetSink(IDayTraceSink* sink) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.sink = sink;
  if (!sink) {
    s.cellId = s.lac = 0;
    s.signal = s.signalRow = -1;
    s.radioOn = true;
    s.placeInForce.clear();
    s.frameInForce.clear();
    s.lockedPlace.clear();
  }
}

const char* CDayTrace::EventName(DayTraceRow::Event event) {
  return kEventNames[static_cast<int>(event)];
}

bool CDayTrace::ParseEvent(const std::string& name, DayTraceRow::Event* out) {
  for (int i = 0; i < static_cast<int>(std::size(kEventNames)); ++i) {
    if (name == kEventNames[i]) {
      *out = static_cast<DayTraceRow::Event>(i);
      return true;
    }
  }
  return false;
}

std::string CDayTrace::FormatRow(const DayTraceRow& row) {
  return platform::FormatSystemTime(row.time) + "," + EventName(row.event) + "," +
         std::to_string(static_cast<std::uint32_t>(row.cellId)) + "," +
         std::to_string(static_cast<std::uint32_t>(row.lac)) + "," + std::to_string(row.signal) +
         "," + (row.radioOn ? "on" : "off") + "," + Quote(row.place) + "," + Quote(row.frame) +
         "," + Quote(row.detail);
}

bool CDayTrace::SplitLine(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields->push_back(std::move(field));
      field.clear();
    } else if (c != '\r') {
      field += c;
    }
  }
  fields->push_back(std::move(field));
  return !quoted;
}

std::string CDayTrace::FileName(const platform::SYSTEMTIME& time) {
  return Date(time) + ".csv";
}

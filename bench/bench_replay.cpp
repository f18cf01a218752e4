// Prints how fast telvane-replay replays a week: seven day traces of a phone moving between the
// places of a profile set of 1,000 places (a location area each, two frames with two actions
// each), a location change every ten minutes and the radio off for an hour each night, against
// the program's own cell tracker and schedule engine on the virtual clock. The profile set is
// loaded from XML as the tool does; loading and replaying are timed apart and together.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Text.h"
#include "platform/Time.h"
#include "replay/Replay.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPlaces = 1000;
constexpr int kDays = 7;
constexpr int kMinutesBetweenMoves = 10;
const std::string kSettings =
    "location_mode=0;intelligent_lac_mode=0;profile_change_mode=0;last_place=0;language=en;"
    "mgr_config=22222222222222222222222222222222222222222222222222222";

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void WriteProfileSet(const fs::path& file) {
  std::ofstream out(file);
  out << "<?xml version=\"1.0\"?><Telvane>"
      << "<place name=\"Unknown\" description=\"\" image=\"u.png\" id=\"0\"/>";
  for (int i = 1; i <= kPlaces; ++i) {
    out << "<place name=\"Place " << i << "\" description=\"\" image=\"p.png\" id=\"" << i
        << "\"><lac id=\"" << 1000 + i << "\"/>"
        << "<schedule name=\"Morning\" begin_hour=\"6\" begin_minute=\"0\" end_hour=\"12\" "
           "end_minute=\"0\"><action id=\"0\" type=\"0\" arg_int_1=\"1\"/>"
           "<action id=\"1\" type=\"1\" arg_int_1=\"0\"/></schedule>"
        << "<schedule name=\"Evening\" begin_hour=\"18\" begin_minute=\"0\" end_hour=\"23\" "
           "end_minute=\"0\"><action id=\"2\" type=\"0\" arg_int_1=\"1\"/>"
           "<action id=\"4\" type=\"1\" arg_int_1=\"0\"/></schedule></place>";
  }
  out << "</Telvane>";
}

// Returns the number of rows written.
int WriteWeek(const fs::path& folder, std::vector<fs::path>* files) {
  unsigned seed = 12345;
  int rows = 0;
  platform::SYSTEMTIME day{2030, 1, 0, 7, 0, 0, 0, 0};
  for (int d = 0; d < kDays; ++d) {
    std::int64_t start = platform::SystemTimeToMs(day) + d * 24LL * 3600 * 1000;
    std::string date = platform::FormatSystemTime(platform::MsToSystemTime(start)).substr(0, 10);
    fs::path file = folder / (date + ".csv");
    std::ofstream out(file);
    out << "time,event,cell,area,signal,radio,place,frame,detail\n";
    out << date << " 00:00:00," << (d == 0 ? "start" : "day") << ",0,0,-1,on,,," << kSettings
        << "\n";
    for (int m = 0; m < 24 * 60; m += kMinutesBetweenMoves) {
      std::string at = platform::FormatSystemTime(platform::MsToSystemTime(start + m * 60000LL));
      if (m == 3 * 60) {
        out << at << ",radio,0,0,0,off,,,\n";
        ++rows;
        continue;
      }
      if (m == 4 * 60) {
        out << at << ",radio,0,0,0,on,,,\n";
        ++rows;
      }
      seed = seed * 1103515245 + 12345;
      int place = 1 + static_cast<int>((seed >> 8) % kPlaces);
      out << at << ",location," << seed % 50000 << "," << 1000 + place << ",60,on,,,\n";
      ++rows;
    }
    files->push_back(file);
  }
  return rows;
}

}  // namespace

int main() {
  fs::path folder = fs::temp_directory_path() / ("bench-replay-" + std::to_string(getpid()));
  fs::create_directories(folder);
  WriteProfileSet(folder / "set.xml");
  std::vector<fs::path> files;
  int rowCount = WriteWeek(folder, &files);

  Clock::time_point begin = Clock::now();
  std::vector<DayTraceRow> rows;
  for (const fs::path& f : files) {
    auto part = replay::ReadTrace(f);
    rows.insert(rows.end(), part.begin(), part.end());
  }
  replay::CReplaySession::Options options;
  options.profilesXml = folder / "set.xml";
  options.assetDir = TELVANE_ASSET_DIR;
  std::size_t events = 0;
  Clock::time_point loaded, replayed;
  {
    replay::CReplaySession session(options, rows);
    loaded = Clock::now();
    replay::ReplayResult result = session.Run();
    replayed = Clock::now();
    events = result.events.size();
    std::string svg = replay::DrawSvg(result);
    std::string text = replay::FormatTimeline(result);
    std::printf("Replay output: %zu timeline lines, %zu bytes of SVG\n", events, svg.size());
  }
  Clock::time_point end = Clock::now();
  std::printf(
      "Replay of a week (%d day traces, %d rows, %d places): %.2f s in all (goal < 2 s); "
      "reading the traces and loading the profile set %.2f s, replaying %.2f s (%.0f rows/s), "
      "%zu timeline events\n",
      kDays, rowCount, kPlaces, Seconds(end - begin), Seconds(loaded - begin),
      Seconds(replayed - loaded), rowCount / std::max(1e-9, Seconds(replayed - loaded)), events);
  fs::remove_all(folder);
  return 0;
}

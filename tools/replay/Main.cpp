// telvane-replay: runs the program's schedule engine and cell tracker against a profile set and
// recorded day traces, on a private device with a virtual clock, and prints what happened.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "InstalledAssets.h"
#include "platform/Process.h"
#include "replay/Replay.h"

namespace {

constexpr const char* kUsage =
    "usage: telvane-replay [--profiles FILE.xml | --db FILE] [--svg FILE] [--check] TRACE...\n";

constexpr const char* kHelp =
    "Replays recorded days (the program folder's traces/YYYY-MM-DD.csv files) with the\n"
    "program's own schedule engine and cell tracking, on a private device with a virtual clock,\n"
    "and prints the timeline: time, location, place, frame, actions and the status each would\n"
    "set. Nothing on the phone changes; managers only record what they are asked to set.\n"
    "\n"
    "  --profiles FILE.xml  the profile set to replay against, an exported XML file\n"
    "  --db FILE            ... or a profile database (tvmgr.db); without either, the phone's\n"
    "                       own database ($TELVANE_DEVICE) is read\n"
    "  --svg FILE           also draws the days as an SVG picture: a band per place over 24\n"
    "                       hours, the frames in force, action marks and absorbed flaps\n"
    "  --check              also reports frames that overlap, places without locations, frames\n"
    "                       the traces never reach and actions for managers switched off in\n"
    "                       mgr_config\n"
    "  --help               this text\n"
    "\n"
    "Several traces are replayed one after the other, in the order of their first rows. The\n"
    "last lines compare the frames entered and left with those the traces recorded.\n"
    "Exit status: 0 done, 1 a file could not be used, 2 bad arguments.\n";

int Usage(const std::string& message) {
  std::cerr << "telvane-replay: " << message << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  replay::CReplaySession::Options options;
  assets::Locations buildTree;
  buildTree.sources = TELVANE_ASSET_DIR;
  options.assetDir = assets::Find(platform::CurrentExecutablePath(), buildTree).sources;
  std::string svgFile;
  bool check = false;
  std::vector<std::string> traces;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc)
        return false;
      *out = argv[++i];
      return !out->empty();
    };
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      traces.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << "\n" << kHelp;
      return 0;
    } else if (arg == "--profiles" || arg == "--db") {
      std::string file;
      if (!value(&file))
        return Usage(arg + " needs a file");
      if (!options.profilesXml.empty() || !options.database.empty())
        return Usage("give one profile set: --profiles or --db, once");
      (arg == "--db" ? options.database : options.profilesXml) = file;
    } else if (arg == "--svg") {
      if (!value(&svgFile))
        return Usage("--svg needs a file");
    } else if (arg == "--check") {
      check = true;
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (traces.empty())
    return Usage("no trace given");

  try {
    // The traces in the order of their first rows; each keeps its own order.
    std::vector<std::vector<DayTraceRow>> files;
    for (const std::string& t : traces) {
      files.push_back(replay::ReadTrace(t));
    }
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
      if (a.empty() || b.empty())
        return !a.empty() && b.empty();
      return platform::SystemTimeToMs(a.front().time) < platform::SystemTimeToMs(b.front().time);
    });
    std::vector<DayTraceRow> rows;
    for (auto& f : files)
      rows.insert(rows.end(), f.begin(), f.end());

    std::ofstream svg;
    if (!svgFile.empty()) {
      svg.open(svgFile, std::ios::binary | std::ios::trunc);
      if (!svg)
        throw replay::ReplayError("cannot write " + svgFile);
    }
    replay::CReplaySession session(options, rows);
    replay::ReplayResult result = session.Run();
    std::cout << replay::FormatTimeline(result);
    bool same = false;
    std::cout << replay::CompareWithRecord(result, &same);
    if (check) {
      std::vector<std::string> findings = session.Check(result);
      for (const std::string& f : findings)
        std::cout << "check: " << f << "\n";
      std::cout << "check: " << findings.size() << " finding" << (findings.size() == 1 ? "" : "s")
                << "\n";
    }
    if (svg.is_open()) {
      svg << replay::DrawSvg(result);
      svg.close();
      if (!svg)
        throw replay::ReplayError("cannot write " + svgFile);
    }
    return 0;
  } catch (const replay::ReplayError& e) {
    std::cerr << "telvane-replay: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "telvane-replay: " << e.what() << "\n";
    return 1;
  }
}

// Prints the time to export and import the XML data file of a large profile set — 1,000 places,
// each with one cell, three time frames and five actions per frame — and the size of the
// database volume and of the file, and the time of the integrity check of a database of
// 100,000 places. Each time is the median of a few runs. Google Benchmark's
// own runs of the parse alone follow.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "data/DB.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "data/XmlData.h"
#include "platform/Device.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPlaces = 1000;
constexpr int kFramesPerPlace = 3;
constexpr int kActionsPerFrame = 5;
constexpr int kRuns = 3;

std::string g_fileText;

void Fill(CDB& db) {
  CDB::Transaction transaction(db);
  for (int p = 0; p < kPlaces; ++p) {
    CStrPlace place("Place " + std::to_string(p), "Generated place", "place.png", -1);
    db.GetTablePlaces()->Insert(place);
    CStrCell cell(100000 + p, place.GetId());
    db.GetTableCell()->Insert(cell);
    for (int f = 0; f < kFramesPerPlace; ++f) {
      CStrPeriod period;
      period.SetIdPlace(place.GetId());
      period.SetName("Frame " + std::to_string(f));
      period.SetStart(f * 8, 0);
      period.SetEnd(f * 8 + 7, 59);
      db.GetTablePeriods()->Insert(period);
      for (int a = 0; a < kActionsPerFrame; ++a) {
        CStrAction action;
        action.SetIdPeriod(period.GetId());
        action.SetMgrId(a);
        action.SetType(a % 2);
        action.SetIntOp1(a);
        action.SetSzOp1("\\Windows\\ring" + std::to_string(a) + ".wav");
        action.SetSzOp2("+34600000000");
        db.GetTableActions()->Insert(action);
      }
    }
  }
  transaction.Commit();
}

constexpr int kCheckPlaces = 100'000;

void FillForCheck(CDB& db) {
  CDB::Transaction transaction(db);
  const CStrAction fresh;
  for (int p = 0; p < kCheckPlaces; ++p) {
    CStrPlace place("Place " + std::to_string(p), "", "place.png", -1);
    db.GetTablePlaces()->Insert(place);
    CStrCell cell(200000 + p, place.GetId());
    db.GetTableCell()->Insert(cell);
    CStrPeriod period;
    period.SetIdPlace(place.GetId());
    period.SetName("Day");
    db.GetTablePeriods()->Insert(period);
    CStrAction action = fresh;
    action.SetIdPeriod(period.GetId());
    action.SetMgrId(p % 6);
    db.GetTableActions()->Insert(action);
  }
  transaction.Commit();
}

double MedianMs(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// Wall-clock and processor time of one call, in milliseconds. The processor time shows the
// cost on a busy machine, where the wall clock also counts other programs' turns.
struct Times {
  double wall = 0;
  double cpu = 0;
  Times& operator+=(const Times& o) {
    wall += o.wall;
    cpu += o.cpu;
    return *this;
  }
};

template <class F>
Times TimeMs(F&& f) {
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  f();
  Times t;
  t.cpu = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  t.wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return t;
}

Times Median(const std::vector<Times>& times) {
  std::vector<double> wall, cpu;
  for (const Times& t : times) {
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
  return {MedianMs(wall), MedianMs(cpu)};
}

void BM_ParseFile(benchmark::State& state) {
  for (auto _ : state) {
    CXmlProfileSet set;
    CXmlData::Parse(g_fileText, &set, nullptr);
    benchmark::DoNotOptimize(set.places.data());
  }
}
BENCHMARK(BM_ParseFile)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = fs::temp_directory_path() / ("telvane-bench-xml-" + std::to_string(getpid()));
  fs::remove_all(folder);
  platform::Device& device = platform::Device::Open(folder);
  fs::create_directories(device.ProgramFolder());
  int failures = 0;
  {
    CDB db;
    db.OpenDB();
    Fill(db);
    fs::path file = CXmlData::FilePath();

    std::vector<Times> exportMs, importMs, readMs;
    for (int run = 0; run < kRuns; ++run) {
      std::string error;
      exportMs.push_back(TimeMs([&] { failures += !CXmlData::Export(db, file, &error); }));
    }
    for (int run = 0; run < kRuns; ++run) {
      CXmlProfileSet set;
      Times read = TimeMs(
          [&] { failures += CXmlData::Read(file, &set, nullptr) != CXmlData::ReadError::kNone; });
      readMs.push_back(read);
      read += TimeMs([&] { CXmlData::Replace(db, set); });
      importMs.push_back(read);
    }
    int places = db.GetTablePlaces()->Count();
    int actions = db.GetTableActions()->Count();

    // The integrity check of a large database: 100,000 places, each with a cell and a time
    // frame with one action.
    CXmlData::RecreateTables(db);
    FillForCheck(db);
    std::vector<Times> checkMs;
    for (int run = 0; run < kRuns; ++run) {
      // Every run reads the tables again, as the first check after a change does.
      for (CTableBase* table :
           std::initializer_list<CTableBase*>{db.GetTablePlaces(), db.GetTableCell(),
                                              db.GetTablePeriods(), db.GetTableActions()}) {
        table->ClearCache();
      }
      checkMs.push_back(TimeMs([&] { failures += !db.CheckIntegrity(); }));
    }
    db.CloseDB();
    std::printf("Profile set: %d places, %d actions (generated %d places, %d actions)\n", places,
                actions, kPlaces + 1, kPlaces * kFramesPerPlace * kActionsPerFrame);
    Times exp = Median(exportMs), imp = Median(importMs), rd = Median(readMs);
    std::printf("XML export: median %.0f ms, %.0f ms processor time (goal < 150 ms)\n", exp.wall,
                exp.cpu);
    std::printf(
        "XML import (read, check, replace the database): median %.0f ms, %.0f ms processor "
        "time (goal < 300 ms)\n",
        imp.wall, imp.cpu);
    std::printf("  of which reading and checking the file: median %.0f ms, %.0f ms processor\n",
                rd.wall, rd.cpu);
    Times check = Median(checkMs);
    std::printf(
        "Integrity check of %d places with a cell, a frame and an action each: median %.0f ms, "
        "%.0f ms processor time\n",
        kCheckPlaces, check.wall, check.cpu);
    std::printf("Data file: %.1f MB; database volume: %.1f MB\n",
                static_cast<double>(fs::file_size(file)) / 1e6,
                static_cast<double>(fs::file_size(db.GetPath())) / 1e6);
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    g_fileText = text.str();
  }
  std::fflush(stdout);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  platform::Device::Close();
  fs::remove_all(folder);
  if (failures != 0)
    std::fprintf(stderr, "bench_xml: %d export or import runs failed\n", failures);
  return failures == 0 ? 0 : 1;
}

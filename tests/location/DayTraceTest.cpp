// The day's trace as the running program writes it: one file per device date with a header,
// the rows of every note (texts quoted), the state carried into a new day's file, and the files
// of days beyond "trace_days" removed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "location/DayTrace.h"
#include "location/LocationTestSupport.h"

using namespace locationtest;
namespace fs = std::filesystem;

namespace {

class DayTraceTest : public LocationFixture {
 protected:
  void TearDown() override {
    CDayTrace::StopWriting();
    LocationFixture::TearDown();
  }
  fs::path Folder() { return dev.device().ProgramFolder() / CDayTrace::kFolderName; }
  std::vector<std::vector<std::string>> Rows(const std::string& name) {
    std::ifstream in(Folder() / name, std::ios::binary);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      EXPECT_TRUE(CDayTrace::SplitLine(line, &fields)) << line;
      rows.push_back(fields);
    }
    return rows;
  }
  void SetTime(const char* text) {
    platform::SYSTEMTIME t;
    ASSERT_TRUE(platform::ParseSystemTime(text, &t));
    platform::Clock::UseVirtual(platform::SystemTimeToMs(t));
  }
};

TEST_F(DayTraceTest, EveryNoteIsARowWithTheStateAfterIt) {
  SetTime("2030-01-07 09:00:00");
  CDayTrace::StartWriting();
  CDayTrace::NoteLocation(4711, 300);
  CDayTrace::NoteSignal(53);
  CDayTrace::NoteSignal(55);  // a swing of a few points: no row of its own
  CDayTrace::NoteFrame(false, 4, "Home, \"sweet\"", "Day(00:00-00:00)");
  CDayTrace::NoteRadio(true);  // no switch: no row
  CDayTrace::NoteRadio(false);
  CDayTrace::NoteFlap("Office", 12, 301, 40);
  CDayTrace::NoteLock("Gym");
  CDayTrace::NoteUnlock();
  CDayTrace::NoteUnlock();  // no lock holds: no row
  CDayTrace::NoteData();
  CDayTrace::StopWriting();
  CDayTrace::NoteLocation(1, 1);  // after the end: dropped

  auto rows = Rows("2030-01-07.csv");
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "event", "cell", "area", "signal", "radio",
                                               "place", "frame", "detail"}));
  EXPECT_EQ(rows[1][1], "start");
  EXPECT_NE(rows[1][8].find("location_mode=0;"), std::string::npos) << rows[1][8];
  EXPECT_NE(rows[1][8].find("mgr_config=222"), std::string::npos) << rows[1][8];
  EXPECT_EQ(rows[2], (std::vector<std::string>{"2030-01-07 09:00:00", "location", "4711", "300",
                                               "-1", "on", "", "", ""}));
  EXPECT_EQ(rows[3][1], "signal");
  EXPECT_EQ(rows[3][4], "53");
  EXPECT_EQ(rows[4], (std::vector<std::string>{"2030-01-07 09:00:00", "enter", "4711", "300", "55",
                                               "on", "Home, \"sweet\"", "Day(00:00-00:00)", ""}));
  // Off, the phone has neither cell nor signal.
  EXPECT_EQ(rows[5], (std::vector<std::string>{"2030-01-07 09:00:00", "radio", "0", "0", "0", "off",
                                               "", "", ""}));
  EXPECT_EQ(rows[6], (std::vector<std::string>{"2030-01-07 09:00:00", "flap", "12", "301", "0",
                                               "off", "Office", "", "40"}));
  EXPECT_EQ(rows[7][1], "lock");
  EXPECT_EQ(rows[7][6], "Gym");
  EXPECT_EQ(rows[8][1], "unlock");
  EXPECT_EQ(rows[9][1], "data");
  EXPECT_EQ(rows[10][1], "stop");
}

TEST_F(DayTraceTest, ANewDayCarriesTheStateOverAndOldDaysAreRemoved) {
  SetSetting(CDayTrace::kDaysKey, 2);
  fs::create_directories(Folder());
  for (const char* old : {"2030-01-04.csv", "2030-01-05.csv", "2030-01-06.csv", "notes.txt"})
    std::ofstream(Folder() / old) << "x\n";
  SetTime("2030-01-06 23:59:00");
  CDayTrace::StartWriting();
  CDayTrace::NoteLocation(1, 400);
  CDayTrace::NoteFrame(false, 2, "Home", "Day(00:00-00:00)");
  CDayTrace::NoteLock("Home");
  SetTime("2030-01-07 00:00:00");
  CDayTrace::NoteFrame(true, 2, "Home", "Day(00:00-00:00)");
  CDayTrace::StopWriting();

  auto rows = Rows("2030-01-07.csv");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1][0], "2030-01-07 00:00:00");
  EXPECT_EQ(rows[1][1], "day");
  EXPECT_EQ(rows[1][2], "1");
  EXPECT_EQ(rows[1][3], "400");
  EXPECT_EQ(rows[1][6], "Home");
  EXPECT_EQ(rows[1][7], "Day(00:00-00:00)");
  EXPECT_NE(rows[1][8].find("last_place="), std::string::npos);
  // The lock that holds over midnight is told again, for a replay of this day alone.
  EXPECT_EQ(rows[2], (std::vector<std::string>{"2030-01-07 00:00:00", "lock", "1", "400", "-1",
                                               "on", "Home", "", ""}));
  EXPECT_EQ(rows[3][1], "leave");
  // Two days kept: yesterday's (with today's first rows appended) and today's.
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(Folder()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"2030-01-06.csv", "2030-01-07.csv", "notes.txt"}));
}

TEST_F(DayTraceTest, NoDaysToKeepWritesNothing) {
  SetSetting(CDayTrace::kDaysKey, 0);
  CDayTrace::StartWriting();
  CDayTrace::NoteLocation(1, 400);
  CDayTrace::StopWriting();
  EXPECT_FALSE(fs::exists(Folder()));
}

}  // namespace

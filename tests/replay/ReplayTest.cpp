// The replay on its own: rows of hand-written day traces against a small profile set, checking
// the timeline the program's engine and tracker produce on the virtual clock, and the checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <pugixml.hpp>

#include "platform/Device.h"
#include "replay/Replay.h"

namespace fs = std::filesystem;
using replay::TimelineEvent;

namespace {

// Office (area 300): Work 08:00-10:00 switches the speaker (whose manager is off below) and
// opens the agenda when left; Lunch 09:30-11:00 overlaps it. Home (area 400): the whole day.
// Gym has no location.
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"u.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"o.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"8\" begin_minute=\"0\" end_hour=\"10\" end_minute=\"0\">"
    "<action id=\"2\" type=\"0\" arg_int_1=\"1\"/>"
    "<action id=\"12\" type=\"1\" arg_char_1=\"agenda.txt\"/></schedule>"
    "<schedule name=\"Lunch\" begin_hour=\"9\" begin_minute=\"30\" end_hour=\"11\" "
    "end_minute=\"0\"/></place>"
    "<place name=\"Home\" description=\"\" image=\"h.png\" id=\"2\"><lac id=\"400\"/>"
    "<schedule name=\"Day\" begin_hour=\"0\" begin_minute=\"0\" end_hour=\"0\" end_minute=\"0\"/>"
    "</place>"
    "<place name=\"Gym\" description=\"\" image=\"g.png\" id=\"3\"/></Telvane>";

// Speaker (id 2) may not switch.
const std::string kSettings =
    "location_mode=0;intelligent_lac_mode=1;profile_change_mode=0;last_place=0;language=en;"
    "mgr_config=22022222222222222222222222222222222222222222222222222";

class ReplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("replay-test-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / "set.xml") << kProfileSet;
    options.profilesXml = folder / "set.xml";
    options.assetDir = TELVANE_SOURCE_DIR;
  }
  void TearDown() override { fs::remove_all(folder); }

  std::vector<DayTraceRow> Trace(const std::string& rows) {
    fs::path file = folder / "day.csv";
    std::ofstream(file) << CDayTrace::kHeader << "\n" << rows;
    return replay::ReadTrace(file);
  }
  // "HH:MM:SS kind place frame text" per event.
  static std::vector<std::string> Lines(const replay::ReplayResult& r) {
    std::vector<std::string> out;
    const char* kinds[] = {"start",  "location", "radio", "clock", "enter",  "leave",
                           "action", "flap",     "stop",  "lock",  "unlock", "data"};
    for (const TimelineEvent& e : r.events) {
      std::string line = replay::TimeText(e.timeMs) + " " + kinds[e.kind];
      for (const std::string* s : {&e.place, &e.frame, &e.text}) {
        if (!s->empty())
          line += " " + *s;
      }
      if (e.carried)
        line += " (carried)";
      if (e.refused)
        line += " (refused)";
      out.push_back(line);
    }
    return out;
  }

  fs::path folder;
  replay::CReplaySession::Options options;
};

TEST_F(ReplayTest, FrameBoundariesFireOnTheVirtualClockAndARestartEntersAgain) {
  auto rows = Trace("2030-01-07 07:00:00,start,0,0,-1,on,,," + kSettings +
                    "\n"
                    "2030-01-07 07:00:00,location,5,300,-1,on,,,\n"
                    // A cell of no place: the engine asks the radio again before it acts.
                    "2030-01-07 11:30:00,location,9,999,-1,on,,,\n"
                    "2030-01-07 12:00:00,location,1,400,-1,on,,,\n"
                    "2030-01-07 12:30:00,stop,1,400,-1,on,,,\n"
                    "2030-01-07 13:00:00,start,0,0,-1,on,,," +
                    kSettings +
                    "\n"
                    "2030-01-07 13:00:00,location,1,400,-1,on,,,\n");
  replay::CReplaySession session(options, rows);
  replay::ReplayResult r = session.Run();
  EXPECT_EQ(Lines(r), (std::vector<std::string>{
                          "07:00:00 start",
                          "07:00:00 location Office",
                          "08:00:00 enter Office Work(08:00-10:00)",
                          "08:00:00 action Office Work(08:00-10:00) Sound: vibrate (refused)",
                          "10:00:00 leave Office Work(08:00-10:00)",
                          "10:00:00 action Office Work(08:00-10:00) open file agenda.txt",
                          // Lunch starts within Work; the engine takes the first frame in order.
                          "10:00:00 enter Office Lunch(09:30-11:00)",
                          "11:00:00 leave Office Lunch(09:30-11:00)",
                          "11:30:00 location Unknown",
                          "12:00:00 location Home",
                          "12:00:00 enter Home Day(00:00-00:00)",
                          "12:30:00 stop",
                          // The restarted program enters the frame in force again.
                          "13:00:00 start",
                          "13:00:00 location Home",
                          "13:00:00 enter Home Day(00:00-00:00)",
                      }));
  // The trace recorded nothing: the replay differs.
  bool same = true;
  replay::CompareWithRecord(r, &same);
  EXPECT_FALSE(same);

  std::vector<std::string> findings = session.Check(r);
  EXPECT_EQ(findings, (std::vector<std::string>{
                          "overlapping frames: Office Work(08:00-10:00) and Office "
                          "Lunch(09:30-11:00)",
                          "place without locations: Gym",
                          "action for a manager switched off in mgr_config: Office "
                          "Work(08:00-10:00), Sound (off)",
                      }));
}

TEST_F(ReplayTest, ADayBeginsWithTheFrameInForceAndTheRadioDropsTheCell) {
  auto rows = Trace("2030-01-08 00:00:00,day,1,400,50,on,Home,Day(00:00-00:00)," + kSettings +
                    "\n"
                    "2030-01-08 07:00:00,radio,0,0,0,off,,,\n"
                    "2030-01-08 07:30:00,location,5,300,-1,off,,,\n"
                    "2030-01-08 08:30:00,radio,0,0,0,on,,,\n"
                    "2030-01-08 08:30:00,location,5,300,-1,on,,,\n"
                    "2030-01-08 08:30:00,leave,5,300,-1,on,Home,Day(00:00-00:00),\n"
                    "2030-01-08 08:30:00,enter,5,300,-1,on,Office,Work(08:00-10:00),\n");
  replay::CReplaySession session(options, rows);
  replay::ReplayResult r = session.Run();
  std::vector<std::string> lines = Lines(r);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "00:00:00 location Home");
  EXPECT_EQ(lines[1], "00:00:00 enter Home Day(00:00-00:00) (carried)");
  EXPECT_EQ(lines[2], "07:00:00 radio off");
  // The cell seen while the radio is off reaches nobody; the office counts once it is on.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "08:30:00 location Office"), 1) << lines[3];
  bool same = false;
  std::string comparison = replay::CompareWithRecord(r, &same);
  EXPECT_TRUE(same) << comparison;
  EXPECT_EQ(r.days, std::vector<std::string>{"2030-01-08"});
}

TEST_F(ReplayTest, TheGracePeriodOfTheTracedSettingsAbsorbsAShortStayAndDelaysADeparture) {
  auto rows = Trace("2030-01-07 12:00:00,start,0,0,-1,on,,," + kSettings +
                    ";location_grace_seconds=120\n"
                    "2030-01-07 12:00:00,location,1,400,-1,on,,,\n"
                    "2030-01-07 12:01:00,location,9,999,-1,on,,,\n"
                    "2030-01-07 12:01:30,location,1,400,-1,on,,,\n"
                    "2030-01-07 12:10:00,location,9,999,-1,on,,,\n"
                    "2030-01-07 12:30:00,stop,9,999,-1,on,,,\n");
  replay::CReplaySession session(options, rows);
  // Thirty seconds away and back keep Home and show as a flap; a real departure is carried out
  // when the period ends.
  EXPECT_EQ(Lines(session.Run()), (std::vector<std::string>{
                                      "12:00:00 start",
                                      "12:00:00 location Home",
                                      "12:00:00 enter Home Day(00:00-00:00)",
                                      "12:01:00 location Unknown",
                                      "12:01:30 location Home",
                                      "12:01:30 flap Home 30",
                                      "12:10:00 location Unknown",
                                      "12:12:00 leave Home Day(00:00-00:00)",
                                      "12:30:00 stop",
                                  }));
}

// A lock, its end and a change of the profile set happen in the replay when they happened on
// the phone, so the replay makes the same entries as the program did.
TEST_F(ReplayTest, LocksAndProfileChangesOfTheTraceAreReplayedAtTheirTime) {
  auto rows = Trace("2030-01-07 07:00:00,start,0,0,-1,on,,," + kSettings +
                    "\n"
                    "2030-01-07 07:00:00,location,5,300,-1,on,,,\n"
                    "2030-01-07 08:00:00,enter,5,300,-1,on,Office,Work(08:00-10:00),\n"
                    "2030-01-07 08:30:00,lock,5,300,-1,on,Home,,\n"
                    "2030-01-07 08:30:00,leave,5,300,-1,on,Office,Work(08:00-10:00),\n"
                    "2030-01-07 08:30:00,enter,5,300,-1,on,Home,Day(00:00-00:00),\n"
                    // Locked, the office's frames and locations count for nothing.
                    "2030-01-07 09:00:00,location,1,400,-1,on,,,\n"
                    "2030-01-07 09:10:00,location,5,300,-1,on,,,\n"
                    "2030-01-07 09:45:00,unlock,5,300,-1,on,,,\n"
                    "2030-01-07 09:45:00,leave,5,300,-1,on,Home,Day(00:00-00:00),\n"
                    "2030-01-07 09:45:00,enter,5,300,-1,on,Office,Work(08:00-10:00),\n"
                    "2030-01-07 10:00:00,leave,5,300,-1,on,Office,Work(08:00-10:00),\n"
                    "2030-01-07 10:00:00,enter,5,300,-1,on,Office,Lunch(09:30-11:00),\n"
                    // The same frame is chosen again; its run is not repeated.
                    "2030-01-07 10:30:00,data,5,300,-1,on,,,\n"
                    "2030-01-07 10:40:00,lock,5,300,-1,on,Library,,\n");
  replay::ReplayResult r = replay::CReplaySession(options, rows).Run();
  std::vector<std::string> lines = Lines(r);
  auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(at("08:30:00 lock Home"));
  EXPECT_TRUE(at("09:45:00 unlock"));
  EXPECT_TRUE(at("10:30:00 data"));
  // A place the profile set does not have cannot be locked to; the replay goes on without it.
  EXPECT_TRUE(at("10:40:00 lock Library not in this profile set, left out"));
  bool same = false;
  std::string comparison = replay::CompareWithRecord(r, &same);
  EXPECT_TRUE(same) << comparison << replay::FormatTimeline(r);

  // A day's file that begins locked: what the lock changes at once was already so.
  rows = Trace("2030-01-08 00:00:00,day,1,400,-1,on,Gym,," + kSettings +
               "\n"
               "2030-01-08 00:00:00,lock,1,400,-1,on,Gym,,\n"
               "2030-01-08 08:30:00,unlock,1,400,-1,on,,,\n"
               "2030-01-08 08:30:00,enter,1,400,-1,on,Home,Day(00:00-00:00),\n");
  r = replay::CReplaySession(options, rows).Run();
  lines = Lines(r);
  EXPECT_TRUE(at("00:00:00 enter Home Day(00:00-00:00) (carried)"));
  EXPECT_TRUE(at("00:00:00 leave Home Day(00:00-00:00) (carried)"));
  comparison = replay::CompareWithRecord(r, &same);
  EXPECT_TRUE(same) << comparison << replay::FormatTimeline(r);

  // Replayed over midnight, the lock the next day's file repeats is the one that holds already.
  rows = Trace("2030-01-07 23:00:00,start,0,0,-1,on,,," + kSettings +
               "\n"
               "2030-01-07 23:00:00,location,1,400,-1,on,,,\n"
               "2030-01-07 23:00:00,enter,1,400,-1,on,Home,Day(00:00-00:00),\n"
               "2030-01-07 23:30:00,lock,1,400,-1,on,Gym,,\n"
               "2030-01-07 23:30:00,leave,1,400,-1,on,Home,Day(00:00-00:00),\n"
               "2030-01-08 00:00:00,day,1,400,-1,on,Gym,," +
               kSettings +
               "\n"
               "2030-01-08 00:00:00,lock,1,400,-1,on,Gym,,\n"
               "2030-01-08 08:30:00,unlock,1,400,-1,on,,,\n"
               "2030-01-08 08:30:00,enter,1,400,-1,on,Home,Day(00:00-00:00),\n");
  r = replay::CReplaySession(options, rows).Run();
  lines = Lines(r);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "23:30:00 lock Gym"), 1);
  EXPECT_FALSE(at("00:00:00 lock Gym"));
  comparison = replay::CompareWithRecord(r, &same);
  EXPECT_TRUE(same) << comparison << replay::FormatTimeline(r);
}

TEST_F(ReplayTest, BadTraceLinesNameTheirLine) {
  auto fails = [&](const std::string& rows, const std::string& what) {
    try {
      Trace(rows);
    } catch (const replay::ReplayError& e) {
      return std::string(e.what()).find(what) != std::string::npos
                 ? testing::AssertionSuccess()
                 : testing::AssertionFailure() << e.what();
    }
    return testing::AssertionFailure() << "accepted";
  };
  EXPECT_TRUE(
      fails("2030-01-07 07:00:00,walk,0,0,-1,on,,,\n", "day.csv:2: unknown event \"walk\""));
  EXPECT_TRUE(fails("2030-02-30 07:00:00,radio,0,0,-1,on,,,\n", "bad time"));
  EXPECT_TRUE(fails("2030-01-07 07:00:00,radio,0,0,-1,maybe,,,\n", "radio must be on or off"));
  EXPECT_TRUE(fails("2030-01-07 07:00:00,enter,0,0,-1,on,\"Home,,\n", "quoted text is not closed"));
  EXPECT_TRUE(fails("2030-01-07 07:00:00,radio,0,0\n", "9 fields expected, 4 found"));
  fs::path file = folder / "other.csv";
  std::ofstream(file) << "a,b\n";
  EXPECT_THROW(replay::ReadTrace(file), replay::ReplayError);
}

}  // namespace

namespace {

// The picture from a timeline made by hand: two days, a frame running past midnight, an action
// and an absorbed flap, with texts that XML must escape.
TEST(ReplaySvgTest, DaysBandsFramesActionsAndFlapsAreValidXml) {
  auto at = [](const char* text) {
    platform::SYSTEMTIME t;
    platform::ParseSystemTime(text, &t);
    return platform::SystemTimeToMs(t);
  };
  replay::ReplayResult r;
  r.days = {"2030-01-07", "2030-01-08"};
  auto add = [&](const char* time, TimelineEvent::Kind kind, const std::string& place,
                 const std::string& frame, const std::string& text) {
    TimelineEvent e;
    e.timeMs = at(time);
    e.kind = kind;
    e.place = place;
    e.frame = frame;
    e.text = text;
    e.cellId = 12;
    e.lac = 301;
    r.events.push_back(e);
  };
  add("2030-01-07 21:00:00", TimelineEvent::kLocation, "Tom & <Jerry>", "", "");
  add("2030-01-07 22:00:00", TimelineEvent::kEnter, "Tom & <Jerry>", "Night(22:00-02:00)", "");
  add("2030-01-07 22:00:00", TimelineEvent::kAction, "Tom & <Jerry>", "Night(22:00-02:00)",
      "Wi-Fi: \"off\"");
  add("2030-01-07 23:00:00", TimelineEvent::kFlap, "Tom & <Jerry>", "", "40");
  add("2030-01-08 02:00:00", TimelineEvent::kLeave, "Tom & <Jerry>", "Night(22:00-02:00)", "");
  pugi::xml_document doc;
  std::string svg = replay::DrawSvg(r);
  ASSERT_TRUE(doc.load_string(svg.c_str())) << svg;
  EXPECT_EQ(doc.select_nodes("//g[@class='day']").size(), 2u);
  // The frame is drawn on both days, up to midnight and from it.
  EXPECT_EQ(doc.select_nodes("//rect[@class='frame']").size(), 2u);
  auto band = doc.select_node("//g[@class='place']/text");
  EXPECT_STREQ(band.node().child_value(), "Tom & <Jerry>");
  EXPECT_STREQ(doc.select_node("//circle[@class='action']/title").node().child_value(),
               "22:00:00 Night(22:00-02:00): Wi-Fi: \"off\"");
  EXPECT_STREQ(doc.select_node("//path[@class='flap']/title").node().child_value(),
               "23:00:00 absorbed: 12/301 for 40 s");
}

}  // namespace

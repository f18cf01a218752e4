// A day lived by the real telvane on the simulated phone, then replayed by telvane-replay from
// the trace the program wrote: the replay must enter and leave the frames that the program's
// event log records, and its picture of the day must be valid XML showing every place entered.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/Programs.h"

namespace fs = std::filesystem;

namespace {

// Office (area 300) works from 08:00 to 10:00 with a ring tone and Bluetooth; Home (area 400)
// has the whole day.
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"office.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"8\" begin_minute=\"0\" end_hour=\"10\" end_minute=\"0\">"
    "<action id=\"16\" type=\"0\" arg_int_1=\"2\" arg_char_1=\"\\Windows\\Office.wav\"/>"
    "<action id=\"1\" type=\"0\" arg_int_1=\"2\"/>"
    "</schedule></place>"
    "<place name=\"Home\" description=\"\" image=\"home.png\" id=\"2\"><lac id=\"400\"/>"
    "<schedule name=\"Day\" begin_hour=\"0\" begin_minute=\"0\" end_hour=\"0\" end_minute=\"0\"/>"
    "</place></Telvane>";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ReplayDayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 07:30:00"}), 0);
    ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  }

  // The event-log file (UTF-16LE) as text.
  std::string LogFile() {
    std::string bytes = ReadFile(dev.device().ProgramFolder() / "log.txt"), text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      text += bytes[i + 1] == 0 ? bytes[i] : '?';
    return text;
  }
  bool LogHas(const std::string& text) {
    return WaitUntil([&] { return LogFile().find(text) != std::string::npos; });
  }
  fs::path TraceFile() { return dev.device().ProgramFolder() / "traces" / "2030-01-07.csv"; }

  // The START and END records of the log, oldest first: "enter Office Work".
  std::vector<std::string> LoggedRuns() {
    std::vector<std::string> runs;
    std::string log = LogFile();
    std::regex record("(Entering|Leaving) ([^,\\r\\n]+), ([^ \\r\\n]+) \\(");
    for (std::sregex_iterator it(log.begin(), log.end(), record), end; it != end; ++it)
      runs.push_back(std::string((*it)[1] == "Entering" ? "enter " : "leave ") + (*it)[2].str() +
                     " " + (*it)[3].str());
    return runs;
  }
  // The frames the replay entered and left: "enter Office Work".
  static std::vector<std::string> ReplayedRuns(const std::string& out) {
    std::vector<std::string> runs;
    std::regex line("\\d\\d:\\d\\d:\\d\\d  (enter|leave) +(\\S+) +([^(\\s]+)\\(");
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) {
      std::smatch m;
      if (std::regex_search(l, m, line))
        runs.push_back(m[1].str() + " " + m[2].str() + " " + m[3].str());
    }
    return runs;
  }

  int Replay(const std::vector<std::string>& args, std::string* out, std::string* err) {
    std::vector<std::string> argv{TELVANE_REPLAY_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, {"TELVANE_DEVICE=" + dev.folder().string()}, out, err);
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

TEST_F(ReplayDayTest, TheReplayOfTheRecordedDayEntersAndLeavesAsTheProgramDid) {
  ASSERT_TRUE(telvane.ImportProfileSet(kProfileSet)) << telvane.TraceText();
  ASSERT_EQ(dev.Console({"cell", "1", "400"}), 0);
  ASSERT_TRUE(LogHas("Entering Home, Day")) << telvane.TraceText();
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 08:30:00"}), 0);
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(LogHas("Entering Office, Work (2 actions)")) << telvane.TraceText();
  // The radio goes off and on in the office; the phone is then back at the same cell.
  ASSERT_EQ(dev.Console({"radio", "off"}), 0);
  ASSERT_EQ(dev.Console({"radio", "on"}), 0);
  // Past the end of the frame: the program leaves it.
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 10:05:00"}), 0);
  ASSERT_TRUE(LogHas("Leaving Office, Work")) << telvane.TraceText();
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 18:00:00"}), 0);
  ASSERT_EQ(dev.Console({"cell", "2", "400"}), 0);
  ASSERT_TRUE(WaitUntil([&] {
    return LoggedRuns().size() >= 4 && LoggedRuns().back() == "enter Home Day";
  })) << LogFile();
  // The program ends in order and starts again at home: it enters the frame in force again.
  std::size_t runsBefore = LoggedRuns().size();
  ASSERT_EQ(dev.Console({"boxes", "answer", "yes"}), 0);
  ASSERT_EQ(dev.Console({"post", "MainWindow", "273", "1234", "0"}), 0);
  ASSERT_TRUE(telvane.WaitForExit());
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 18:30:00"}), 0);
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(WaitUntil([&] { return LoggedRuns().size() > runsBefore; })) << LogFile();
  std::vector<std::string> logged = LoggedRuns();
  EXPECT_EQ(logged.back(), "enter Home Day");
  // Everything the program noted has reached the file.
  ASSERT_TRUE(WaitUntil([&] {
    std::string trace = ReadFile(TraceFile());
    return trace.find(",stop,") != std::string::npos &&
           trace.rfind(",enter,") > trace.rfind(",start,");
  })) << ReadFile(TraceFile());

  fs::path xml = dev.folder() / "profile-set.xml";
  fs::path svg = dev.folder() / "day.svg";
  std::string out, err;
  ASSERT_EQ(
      Replay({"--profiles", xml.string(), "--svg", svg.string(), TraceFile().string()}, &out, &err),
      0)
      << err;
  EXPECT_EQ(ReplayedRuns(out), logged) << out << "\n" << ReadFile(TraceFile());
  EXPECT_NE(out.find("The replay enters and leaves the frames as the recorded day did"),
            std::string::npos)
      << out;
  // The office's actions, with what each would set.
  EXPECT_NE(out.find("ring tone \\Windows\\Office.wav"), std::string::npos) << out;
  EXPECT_NE(out.find("Bluetooth: "), std::string::npos) << out;

  // The picture is valid XML and names each place entered in a band of its own.
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_file(svg.c_str());
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << ReadFile(svg);
  ASSERT_STREQ(doc.document_element().name(), "svg");
  std::set<std::string> bands;
  for (pugi::xpath_node node : doc.select_nodes("//g[@class='place']/text[1]"))
    bands.insert(node.node().child_value());
  EXPECT_EQ(bands, (std::set<std::string>{"Home", "Office"})) << ReadFile(svg);
  EXPECT_FALSE(doc.select_nodes("//g[@class='place']/rect[@class='frame']").empty());
  EXPECT_FALSE(doc.select_nodes("//circle[@class='action']").empty());

  // The phone's own database serves as the profile set too, and the phone is left as it was.
  std::string before;
  ASSERT_EQ(dev.Console({"state"}, &before), 0);
  ASSERT_EQ(Replay({TraceFile().string()}, &out, &err), 0) << err;
  EXPECT_EQ(ReplayedRuns(out), logged) << out;
  std::string after;
  ASSERT_EQ(dev.Console({"state"}, &after), 0);
  auto cellOf = [](const std::string& state) {
    std::smatch m;
    return std::regex_search(state, m, std::regex("cell_id[^\\n]*")) ? m.str() : "";
  };
  EXPECT_EQ(cellOf(after), cellOf(before));
}

TEST_F(ReplayDayTest, BadArgumentsAndFilesAreRefusedClearly) {
  std::string out, err;
  EXPECT_EQ(Replay({}, &out, &err), 2);
  EXPECT_NE(err.find("no trace given"), std::string::npos) << err;
  EXPECT_EQ(Replay({"--frobnicate", "x.csv"}, &out, &err), 2);
  EXPECT_NE(err.find("unknown option --frobnicate"), std::string::npos) << err;
  EXPECT_EQ(Replay({"--profiles", "a.xml", "--db", "b.db", "x.csv"}, &out, &err), 2);
  ASSERT_EQ(Replay({"--help"}, &out, &err), 0);
  EXPECT_NE(out.find("--check"), std::string::npos);

  fs::path bad = dev.folder() / "bad.csv";
  std::ofstream(bad) << "time,event,cell,area,signal,radio,place,frame,detail\n"
                     << "2030-01-07 07:00:00,location,12x,300,-1,on,,,\n";
  EXPECT_EQ(Replay({"--profiles", "missing.xml", bad.string()}, &out, &err), 1);
  EXPECT_NE(err.find("bad.csv:2: bad cell \"12x\""), std::string::npos) << err;
  fs::path good = dev.folder() / "good.csv";
  std::ofstream(good) << "time,event,cell,area,signal,radio,place,frame,detail\n";
  EXPECT_EQ(Replay({"--profiles", "missing.xml", good.string()}, &out, &err), 1);
  EXPECT_NE(err.find("cannot read the profile set missing.xml"), std::string::npos) << err;
  fs::path notDb = dev.folder() / "not.db";
  std::ofstream(notDb) << "not a database";
  EXPECT_EQ(Replay({"--db", notDb.string(), good.string()}, &out, &err), 1);
  EXPECT_NE(err.find("cannot read the profile database"), std::string::npos) << err;
}

}  // namespace

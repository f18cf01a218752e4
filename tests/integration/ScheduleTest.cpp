// The real telvane following the phone from place to place, driven only through the device
// console: a profile set is imported from the phone's XML file, the phone moves into a known
// location area, and the device clock runs past the end of the time frame while the device's
// notification runner serves. What the program did is read from its event-log file, its
// published place and frame, the notifications it armed and the phone's state.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Mosutil.h"
#include "platform/Notify.h"
#include "platform/Registry.h"
#include "support/Programs.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr const char* kWmCommand = "273";
constexpr int kCmdLock = 40235;
constexpr int kCmdUnlock = 40237;

// Office (area 300) works from 08:00 to 10:00: entering sets the ring tone, leaving opens the
// agenda. Home (area 400) has the whole day.
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"office.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"8\" begin_minute=\"0\" end_hour=\"10\" end_minute=\"0\">"
    "<action id=\"16\" type=\"0\" arg_int_1=\"2\" arg_char_1=\"\\Windows\\Office.wav\"/>"
    "<action id=\"12\" type=\"1\" arg_char_1=\"\\My Documents\\agenda.txt\"/>"
    "</schedule></place>"
    "<place name=\"Home\" description=\"\" image=\"home.png\" id=\"2\"><lac id=\"400\"/>"
    "<schedule name=\"Day\" begin_hour=\"0\" begin_minute=\"0\" end_hour=\"0\" end_minute=\"0\"/>"
    "</place></Telvane>";

class ScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 09:00:00"}), 0);
    PutFile("\\My Documents\\agenda.txt", "09:30 standup");
    ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  }

  // Puts a file on the phone through the console, from a host file outside its file system.
  void PutFile(const std::string& devicePath, const std::string& text) {
    fs::path host = dev.folder() / "upload.tmp";
    std::ofstream(host, std::ios::binary) << text;
    ASSERT_EQ(dev.Console({"file", "put", host.string(), devicePath}), 0);
  }
  void Command(int id) {
    ASSERT_EQ(dev.Console({"post", "MainWindow", kWmCommand, std::to_string(id), "0"}), 0);
  }
  void Import() { ASSERT_TRUE(telvane.ImportProfileSet(kProfileSet)) << telvane.TraceText(); }
  std::string Setting(const std::string& name) {
    std::string value;
    RegistryGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvella\\Telvane", name, &value);
    return value;
  }
  // The event-log file (UTF-16LE), as text; its lines are plain ASCII here.
  std::string LogFile() {
    std::ifstream in(dev.device().ProgramFolder() / "log.txt", std::ios::binary);
    std::stringstream raw;
    raw << in.rdbuf();
    std::string bytes = raw.str(), text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      text += bytes[i + 1] == 0 ? bytes[i] : '?';
    return text;
  }
  bool LogHas(const std::string& text, int timeoutMs = 10000) {
    return WaitUntil([&] { return LogFile().find(text) != std::string::npos; }, timeoutMs);
  }
  // The program's frame notifications as "ARGS@DUE".
  std::vector<std::string> FrameNotifications() {
    std::vector<HNOTIFY> handles;
    CeGetUserNotificationHandles(&handles, 500);
    std::vector<std::string> out;
    for (HNOTIFY h : handles) {
      CE_NOTIFICATION_TRIGGER t;
      if (CeGetUserNotification(h, &t) && t.lpszApplication == TELVANE_BIN &&
          t.lpszArguments.rfind("timer_notification_0", 0) == 0) {
        out.push_back(t.lpszArguments + "@" + FormatSystemTime(t.stStartTime));
      }
    }
    return out;
  }
  std::string State(const std::string& name) { return dev.device().GetState(name).value_or(""); }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

TEST_F(ScheduleTest, KnownAreaEntersTheFrameAndTheClockEndsIt) {
  Import();
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(LogHas("Entering Office, Work (2 actions)")) << LogFile() << telvane.TraceText();
  EXPECT_NE(LogFile().find("New location: cell 4711, area 300"), std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return Setting("current_frame") == "Work(08:00-10:00)"; }));
  EXPECT_EQ(Setting("current_place"), "Office");
  ASSERT_TRUE(WaitUntil([&] { return State("ring_tone") == "\\Windows\\Office.wav"; }));
  EXPECT_TRUE(LogHas("Ring tone: \\Windows\\Office.wav"));
  ASSERT_TRUE(WaitUntil([&] {
    return FrameNotifications() ==
           std::vector<std::string>{"timer_notification_07_00@2030-01-07 10:00:00"};
  })) << telvane.TraceText();
  EXPECT_TRUE(State("last_opened_file").empty());

  // The device runner starts the program at 10:00; the running one leaves the frame.
  std::string out;
  ASSERT_TRUE(WaitUntil([&] {
    dev.Console({"state", "--json"}, &out);
    return out.find("\"runner\":true") != std::string::npos;
  }));
  ASSERT_EQ(dev.Console({"clock", "+65m"}), 0);
  ASSERT_TRUE(LogHas("Leaving Office, Work (2 actions)", 15000)) << telvane.TraceText();
  ASSERT_TRUE(WaitUntil([&] { return State("last_opened_file") == "\\My Documents\\agenda.txt"; }));
  EXPECT_TRUE(LogHas("Opening \\My Documents\\agenda.txt"));
  ASSERT_TRUE(WaitUntil([&] { return Setting("current_frame").empty(); }));
  EXPECT_EQ(Setting("current_place"), "Office");
  // Tomorrow's start of the frame is armed.
  EXPECT_TRUE(WaitUntil([&] {
    return FrameNotifications() ==
           std::vector<std::string>{"timer_notification_07_01@2030-01-08 08:00:00"};
  })) << telvane.TraceText();
}

TEST_F(ScheduleTest, ImportedDataIsEvaluatedAtOnceForTheCurrentCell) {
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(LogHas("New location: cell 4711, area 300")) << telvane.TraceText();
  // The engine has evaluated the new cell against the data of a new phone (an unknown place to
  // an unknown place changes nothing that shows, so its trace tells).
  ASSERT_TRUE(WaitUntil([&] {
    std::string trace = telvane.TraceText();
    std::size_t moved = trace.find("New location: cell 4711");
    return moved != std::string::npos && trace.find("Flag(0,0)", moved) != std::string::npos;
  })) << telvane.TraceText();
  EXPECT_EQ(LogFile().find("Entering Office"), std::string::npos);
  // No cell change follows the import: the new data alone makes the phone be at the office.
  Import();
  ASSERT_TRUE(LogHas("Entering Office, Work (2 actions)")) << LogFile() << telvane.TraceText();
  EXPECT_TRUE(WaitUntil([&] { return Setting("current_place") == "Office"; }));
}

TEST_F(ScheduleTest, LockHoldsThePlaceUntilUnlocked) {
  Import();
  ASSERT_EQ(dev.Console({"cell", "1", "400"}), 0);
  ASSERT_TRUE(LogHas("Entering Home, Day")) << telvane.TraceText();
  // Locked to the current place (no display: the default time limit).
  Command(kCmdLock);
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& box : ListBoxes()) {
      if (box.text.find("location changes do not change the place") != std::string::npos)
        return true;
    }
    return false;
  }));
  ASSERT_TRUE(LogHas("Leaving Home, Day")) << telvane.TraceText();
  ASSERT_TRUE(WaitUntil([&] {
    // An hour from the lock, to the second.
    for (const auto& n : FrameNotifications()) {
      if (n.rfind("timer_notification_08_00@2030-01-07 10:00:", 0) == 0)
        return true;
    }
    return false;
  })) << telvane.TraceText();

  // The office does not count while locked.
  ASSERT_EQ(dev.Console({"cell", "2", "300"}), 0);
  ASSERT_TRUE(LogHas("New location: cell 2, area 300"));
  Command(kCmdUnlock);
  ASSERT_TRUE(LogHas("Entering Office, Work")) << LogFile();
  ASSERT_TRUE(WaitUntil([&] { return Setting("current_place") == "Office"; }));
  auto list = FrameNotifications();
  EXPECT_EQ(
      std::count_if(list.begin(), list.end(),
                    [](const std::string& n) { return n.rfind("timer_notification_08", 0) == 0; }),
      0);
}

TEST_F(ScheduleTest, TheFrameAndItsBoundaryFollowTheClockSetBack) {
  Import();
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(LogHas("Entering Office, Work (2 actions)")) << telvane.TraceText();
  ASSERT_TRUE(WaitUntil([&] {
    return FrameNotifications() ==
           std::vector<std::string>{"timer_notification_07_00@2030-01-07 10:00:00"};
  })) << telvane.TraceText();

  // A day back: the same frame goes on, and ends at 10:00 of the day the clock now shows.
  ASSERT_EQ(dev.Console({"clock", "-1d"}), 0);
  ASSERT_TRUE(WaitUntil([&] {
    return FrameNotifications() ==
           std::vector<std::string>{"timer_notification_07_00@2030-01-06 10:00:00"};
  })) << telvane.TraceText();
  EXPECT_EQ(Setting("current_frame"), "Work(08:00-10:00)");

  // Back before the frame: it is left, and its start is armed for the same morning.
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-06 07:30:00"}), 0);
  ASSERT_TRUE(LogHas("Leaving Office, Work (2 actions)")) << telvane.TraceText();
  ASSERT_TRUE(WaitUntil([&] { return Setting("current_frame").empty(); }));
  EXPECT_TRUE(WaitUntil([&] {
    return FrameNotifications() ==
           std::vector<std::string>{"timer_notification_07_01@2030-01-06 08:00:00"};
  })) << telvane.TraceText();
}

}  // namespace

// One-tap switching on the running program, driven as a user drives it: a feature button's
// command opens its option dialog, the phone's keys pick a state and a time limit, and the phone
// shows the change; the time limit's notification, served by the runner once the phone's clock
// has moved on, switches the feature back. Also the main window's menu commands, posted as
// WM_COMMAND messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Json.h"
#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "support/Programs.h"

using platform::Json;
namespace fs = std::filesystem;

namespace {

constexpr const char* kWmCommand = "273";

class OptionDialogTest : public ::testing::Test {
 protected:
  void Start() { ASSERT_TRUE(telvane.StartAndWaitUntilReady()) << telvane.TraceText(); }

  void Command(int id) {
    ASSERT_EQ(dev.Console({"post", "MainWindow", kWmCommand, std::to_string(id), "0"}), 0);
  }
  // Presses the phone's keys in order; each returns once the program has handled it.
  void Keys(const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
      std::string err;
      ASSERT_EQ(dev.Console({"key", key}, nullptr, &err), 0) << key << ": " << err;
    }
  }

  // The class of the window in front, "" when none.
  std::string Front() {
    std::string out;
    if (dev.Console({"state", "--json"}, &out) != 0)
      return "";
    auto report = platform::ParseJson(out);
    if (!report)
      return "";
    for (const Json& w : (*report)["windows"]) {
      if (w["visible"] == true)
        return w["class"].get<std::string>();
    }
    return "";
  }
  bool WaitForFront(const std::string& cls) {
    bool ok = WaitUntil([&] { return Front() == cls; });
    EXPECT_TRUE(ok) << "in front: " << Front() << "\n" << telvane.TraceText();
    return ok;
  }
  // A main window enabled again and in front: every dialog closed.
  bool WaitForMainWindow() { return WaitForFront("MainWindow") && MainWindowEnabled(); }
  bool MainWindowEnabled() {
    std::string out;
    dev.Console({"state", "--json"}, &out);
    auto report = platform::ParseJson(out);
    for (const Json& w : (*report)["windows"]) {
      if (w["class"] == "MainWindow")
        return w["enabled"] == true;
    }
    return false;
  }

  std::string ConsoleLine(const std::vector<std::string>& args) {
    std::string out;
    dev.Console(args, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
      out.pop_back();
    return out;
  }
  bool WaitForConsole(const std::vector<std::string>& args, const std::string& expected) {
    bool ok = WaitUntil([&] { return ConsoleLine(args) == expected; });
    EXPECT_TRUE(ok) << args[0] << ": " << ConsoleLine(args) << " instead of " << expected << "\n"
                    << telvane.TraceText();
    return ok;
  }
  std::string Hardware(const std::string& name) { return dev.device().GetState(name).value_or(""); }
  // The arguments of the program's pending timed notifications.
  std::vector<std::string> Notifications() {
    std::string out;
    dev.Console({"notifications"}, &out);
    std::vector<std::string> args;
    std::size_t pos = 0;
    while ((pos = out.find("timer_notification_", pos)) != std::string::npos) {
      args.push_back(out.substr(pos, 24));
      pos += 24;
    }
    return args;
  }
  bool WaitForNotification(const std::string& args) {
    bool ok = WaitUntil([&] {
      auto list = Notifications();
      return std::find(list.begin(), list.end(), args) != list.end();
    });
    EXPECT_TRUE(ok) << args << " not armed\n" << telvane.TraceText();
    return ok;
  }
  bool HasBox(const std::string& text) {
    for (const auto& box : platform::ListBoxes()) {
      if (box.text.find(text) != std::string::npos)
        return true;
    }
    return false;
  }

  TestDevice dev;
  TelvaneProcess telvane{dev};
};

// The option buttons come cancel first, then the states other than the current one in the
// feature's order; the time limits are cancel, no limit, 1, 5, 10, 30, 60, 120 minutes, custom.
const std::vector<std::string> kOneMinute = {"right", "right", "enter"};

TEST_F(OptionDialogTest, BluetoothVisibleForAMinuteThenOffAgain) {
  ASSERT_EQ(dev.Console({"bt", "off"}), 0);
  Start();
  Command(103);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  // The main window is disabled while a dialog is open.
  EXPECT_FALSE(MainWindowEnabled());
  // Off: on, visible, settings.
  Keys({"right", "right", "enter"});
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys(kOneMinute);
  ASSERT_TRUE(WaitForConsole({"bt"}, "discoverable"));
  // The limit hands the status it restores (off) to the notification.
  ASSERT_TRUE(WaitForNotification("timer_notification_01_00"));
  EXPECT_TRUE(WaitForMainWindow());

  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  EXPECT_TRUE(WaitForConsole({"bt"}, "off"));
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(OptionDialogTest, CancelInEitherDialogChangesNothing) {
  ASSERT_EQ(dev.Console({"bt", "off"}), 0);
  Start();
  // Cancel is the first button and has the focus.
  Command(103);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"enter"});
  ASSERT_TRUE(WaitForMainWindow());
  // Escape cancels the state dialog too.
  Command(103);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"escape"});
  ASSERT_TRUE(WaitForMainWindow());
  // A state chosen, then the time limit cancelled.
  Command(103);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"right", "enter"});
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys({"enter"});
  ASSERT_TRUE(WaitForMainWindow());
  // The phone radio's dialog is the time limit alone.
  Command(107);
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys({"escape"});
  ASSERT_TRUE(WaitForMainWindow());

  // A later change shows that nothing was queued before it.
  ASSERT_EQ(dev.Console({"sound", "silent"}), 0);
  Command(40131);
  ASSERT_TRUE(WaitForConsole({"sound"}, "on"));
  EXPECT_EQ(ConsoleLine({"bt"}), "off");
  EXPECT_EQ(ConsoleLine({"radio"}), "on");
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(OptionDialogTest, SpeakerOnWithASoundLevelForAMinute) {
  ASSERT_EQ(dev.Console({"sound", "silent"}), 0);
  Start();
  Command(104);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  // Silent: vibrate, sound on.
  Keys({"right", "right", "enter"});
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys(kOneMinute);
  ASSERT_TRUE(WaitForFront("CDialogSoundLevel"));
  // The level starts at full volume (5); two steps down make 3.
  Keys({"left", "left", "enter"});
  ASSERT_TRUE(WaitForConsole({"sound"}, "on"));
  EXPECT_TRUE(WaitUntil([&] { return Hardware("wave_volume") == std::to_string(153 * 257); }))
      << Hardware("wave_volume");
  ASSERT_TRUE(WaitForNotification("timer_notification_02_00"));

  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  EXPECT_TRUE(WaitForConsole({"sound"}, "silent"));
}

TEST_F(OptionDialogTest, Band3GForAMinuteThen2G) {
  Start();
  Command(110);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  // Automatic: 2G, 3G.
  Keys({"right", "right", "enter"});
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys(kOneMinute);
  EXPECT_TRUE(WaitForConsole({"reg", "get", "HKLM", "\\SOFTWARE\\OEM\\UMTS", "OpMode"}, "2"));
  ASSERT_TRUE(WaitForNotification("timer_notification_05_01"));

  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  EXPECT_TRUE(WaitForConsole({"reg", "get", "HKLM", "\\SOFTWARE\\OEM\\UMTS", "OpMode"}, "1"));
}

TEST_F(OptionDialogTest, PhoneRadioOffForAMinuteThenOnAgain) {
  Start();
  ASSERT_TRUE(WaitForConsole({"radio"}, "on"));
  Command(107);
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys(kOneMinute);
  ASSERT_TRUE(WaitForConsole({"radio"}, "off"));
  ASSERT_TRUE(WaitForNotification("timer_notification_03_00"));
  // The radio goes off a moment after the request; a limit that ends before the phone manager
  // has seen it off would find nothing to switch back.
  ASSERT_TRUE(
      WaitUntil([&] { return telvane.TraceText().find("Phone is now off") != std::string::npos; }));

  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  EXPECT_TRUE(WaitForConsole({"radio"}, "on"));
}

TEST_F(OptionDialogTest, WifiAndDataConnectionsForAMinute) {
  ASSERT_EQ(dev.Console({"wifi", "off"}), 0);
  ASSERT_EQ(dev.Console({"connections", "add", "GPRS"}), 0);
  Start();
  // Wi-Fi off: on, the wireless manager.
  Command(105);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"right", "enter"});
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys(kOneMinute);
  ASSERT_TRUE(WaitForConsole({"wifi"}, "on"));
  ASSERT_TRUE(WaitForNotification("timer_notification_00_00"));
  // Data disconnected: disable, connected, manage.
  ASSERT_TRUE(WaitForMainWindow());
  Command(108);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"right", "right", "enter"});
  ASSERT_TRUE(WaitForFront("COptionDialogTimeLimit"));
  Keys(kOneMinute);
  ASSERT_TRUE(WaitUntil([&] {
    return ConsoleLine({"connections"}).find(" connected") != std::string::npos;
  })) << ConsoleLine({"connections"});
  ASSERT_TRUE(WaitForNotification("timer_notification_04_01"));

  ASSERT_EQ(dev.Console({"clock", "+61s"}), 0);
  EXPECT_TRUE(WaitForConsole({"wifi"}, "off"));
  EXPECT_TRUE(WaitUntil([&] {
    return ConsoleLine({"connections"}).find("disconnected") != std::string::npos;
  })) << ConsoleLine({"connections"});
}

TEST_F(OptionDialogTest, BluetoothSettingsStartTheControlPanelAndWifiReportsItsMissingManager) {
  Start();
  Command(103);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  // The last button opens the phone's Bluetooth settings.
  Keys({"left", "enter"});
  EXPECT_TRUE(WaitUntil([&] { return Hardware("last_program") == "ctlpnl.exe cplmain.cpl,23"; }))
      << Hardware("last_program");

  Command(105);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"left", "enter"});
  EXPECT_TRUE(WaitUntil([&] { return HasBox("wireless manager could not be opened"); }));
}

TEST_F(OptionDialogTest, MenuCommandsVolumeForwardingMemoryAboutAndHelp) {
  ASSERT_EQ(dev.Console({"sound", "silent"}), 0);
  Start();
  // Volume 40 %: level 2 and the sound on.
  Command(40129);
  ASSERT_TRUE(WaitForConsole({"sound"}, "on"));
  EXPECT_TRUE(WaitUntil([&] { return Hardware("wave_volume") == std::to_string(102 * 257); }))
      << Hardware("wave_volume");
  // The change is logged as the menu command's, named by its path through the menus.
  std::string csv;
  EXPECT_TRUE(WaitUntil([&] {
    csv.clear();
    dev.Console({"log", "--csv"}, &csv);
    return csv.find("Cause: the menu command Test > Volume > 40 %.") != std::string::npos;
  })) << csv;

  // Forwarding on asks for the number, offering the one entered last time.
  ASSERT_EQ(dev.Console({"reg", "set", "HKLM", "\\SOFTWARE\\Orvella\\Telvane",
                         "call_forward_number", "string", "+34600111222"}),
            0);
  Command(40095);
  ASSERT_TRUE(WaitForFront("CDialogCallForward"));
  Keys({"enter"});
  EXPECT_TRUE(WaitUntil([&] { return Hardware("call_forward") == "+34600111222"; }))
      << Hardware("call_forward");
  ASSERT_TRUE(WaitForMainWindow());
  Command(40094);
  EXPECT_TRUE(WaitUntil([&] { return Hardware("call_forward") == "off"; }));

  // The memory report measures a heap in use.
  Command(40223);
  EXPECT_TRUE(WaitUntil([&] { return HasBox("Memory in use: "); }));
  for (const auto& box : platform::ListBoxes()) {
    if (box.text.rfind("Memory in use: ", 0) == 0) {
      EXPECT_GT(std::stoul(box.text.substr(15)), 100000u) << box.text;
      EXPECT_NE(box.text.find(" ms)"), std::string::npos) << box.text;
    }
  }

  // The diagnostic commands lower the battery and move the phone to a test cell.
  ASSERT_EQ(dev.Console({"battery", "50"}), 0);
  Command(40052);
  EXPECT_TRUE(WaitUntil([&] { return ConsoleLine({"battery"}).rfind("40", 0) == 0; }))
      << ConsoleLine({"battery"});
  Command(40054);
  EXPECT_TRUE(WaitForConsole({"cell"}, "1001/100"));

  // About and help open their dialogs and close with one key.
  Command(9);
  ASSERT_TRUE(WaitForFront("CDialogAbout"));
  Keys({"enter"});
  ASSERT_TRUE(WaitForMainWindow());
  Command(40241);
  ASSERT_TRUE(WaitForFront("CDialogHelp"));
  Keys({"escape"});
  ASSERT_TRUE(WaitForMainWindow());
}

TEST_F(OptionDialogTest, BacklightThemeAndRingToneFormsApplyWhatIsChosen) {
  ASSERT_EQ(dev.Console({"backlight", "3", "10"}), 0);
  fs::path file = dev.folder() / "sound.bin";
  std::ofstream(file) << "x";
  ASSERT_EQ(dev.Console({"file", "put", file.string(), "\\Windows\\Ocean.tsk"}), 0);
  ASSERT_EQ(dev.Console({"file", "put", file.string(), "\\Windows\\Bells.wav"}), 0);
  Start();
  // The backlight form starts at the phone's levels; one step up on battery.
  Command(40133);
  ASSERT_TRUE(WaitForFront("CDialogBacklight"));
  Keys({"up", "enter"});
  EXPECT_TRUE(WaitForConsole({"backlight"}, "4/10"));
  ASSERT_TRUE(WaitForMainWindow());
  Command(40135);
  ASSERT_TRUE(WaitForFront("CDialogTheme"));
  Keys({"enter"});
  EXPECT_TRUE(WaitUntil([&] { return Hardware("today_theme") == "Ocean"; }));
  ASSERT_TRUE(WaitForMainWindow());
  Command(40136);
  ASSERT_TRUE(WaitForFront("CDialogRingTone"));
  Keys({"enter"});
  EXPECT_TRUE(WaitUntil([&] { return Hardware("ring_tone") == "\\Windows\\Bells.wav"; }))
      << Hardware("ring_tone");
}

TEST_F(OptionDialogTest, AnOpenDialogFollowsTheTurnedScreen) {
  Start();
  Command(40136);
  ASSERT_TRUE(WaitForFront("CDialogRingTone"));
  ASSERT_EQ(dev.Console({"rotate"}), 0);
  // The form spans the new width, and its keys still work.
  EXPECT_TRUE(WaitUntil([&] {
    std::string out;
    dev.Console({"state", "--json"}, &out);
    auto report = platform::ParseJson(out);
    for (const Json& w : (*report)["windows"]) {
      if (w["class"] == "CDialogRingTone")
        return w["width"].get<int>() > 240;
    }
    return false;
  }));
  Keys({"escape"});
  EXPECT_TRUE(WaitForMainWindow());
}

TEST_F(OptionDialogTest, ThePlacesDialogAddsAPlaceForTheCurrentLocation) {
  Start();
  ASSERT_EQ(dev.Console({"cell", "7", "300"}), 0);
  // The current-location panel's dialog: cancel, places, add place, ...
  Command(106);
  ASSERT_TRUE(WaitForFront("COptionDialog"));
  Keys({"right", "right", "enter"});
  // The new place's name is offered; enter keeps it.
  ASSERT_TRUE(WaitForFront("CDialogPlaceName"));
  Keys({"enter"});
  EXPECT_TRUE(WaitUntil([&] { return HasBox("The location has been assigned to the place."); }));
  ASSERT_TRUE(WaitForMainWindow());
  // The location now has a place: its time frames open in the settings (none yet).
  Command(40232);
  ASSERT_TRUE(WaitForFront("CSettingsSheet"));
  Keys({"escape"});
  EXPECT_TRUE(WaitForMainWindow());
  EXPECT_FALSE(HasBox("The current place was not found."));
}

// A location that already has a place goes to the place it is given: a second new place for
// the same location area takes it over, and assigning it to the first one brings it back.
TEST_F(OptionDialogTest, AKnownLocationMovesToThePlaceItIsGiven) {
  Start();
  ASSERT_EQ(dev.Console({"cell", "7", "300"}), 0);
  auto placeOfArea = [&] {
    return QueryDatabase(dev,
                         "SELECT p.SYM FROM lacs l JOIN places p ON p.ID = l.ID_PLACE "
                         "WHERE l.ID_LAC = 300");
  };
  using Names = std::vector<std::string>;
  auto addPlace = [&] {
    Command(106);
    ASSERT_TRUE(WaitForFront("COptionDialog"));
    Keys({"right", "right", "enter"});
    ASSERT_TRUE(WaitForFront("CDialogPlaceName"));
    Keys({"enter"});
    ASSERT_TRUE(WaitForMainWindow());
  };
  addPlace();
  EXPECT_EQ(placeOfArea(), Names{"Place 2"});
  addPlace();
  EXPECT_EQ(placeOfArea(), Names{"Place 3"});
  // Assign to place lists the places by name (Place 2, Place 3, Unknown), the first chosen.
  Command(40231);
  ASSERT_TRUE(WaitForFront("CDialogChoose"));
  Keys({"enter"});
  ASSERT_TRUE(WaitForMainWindow());
  EXPECT_EQ(placeOfArea(), Names{"Place 2"});
  EXPECT_EQ(QueryDatabase(dev, "SELECT COUNT(*) FROM lacs WHERE ID_LAC = 300"), Names{"1"});
}

}  // namespace

// The running telvane's main window: a skin it cannot find or read ends the program with the
// translated box and exit code 0; the tray icon is left out where there is no notification area;
// the buttons are laid out again once per orientation change (and per change of skin).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Mosutil.h"
#include "platform/Window.h"
#include "support/Programs.h"
#include "support/Wait.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettings = "SOFTWARE\\Orvella\\Telvane";

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(MainWindowTest, SkinThatCannotBeFoundOrReadShowsItsBoxAndEndsCleanly) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  fs::path skins = dev.device().ProgramFolder() / "themes" / "default" / "qvga";
  ASSERT_TRUE(fs::exists(skins / "skin.xml"));

  // A file that is there but cannot be read as a file.
  fs::rename(skins / "skin.xml", skins / "skin.xml.kept");
  fs::create_directory(skins / "skin.xml");
  EXPECT_EQ(telvane.Run({}), 0);
  auto boxes = platform::ListBoxes();
  ASSERT_EQ(boxes.size(), 1u) << telvane.TraceText();
  EXPECT_NE(boxes[0].text.find("could not be read"), std::string::npos) << boxes[0].text;
  EXPECT_NE(boxes[0].text.find("\\themes\\default\\qvga\\skin.xml"), std::string::npos);

  // The whole folder of the screen's class missing.
  fs::remove_all(skins);
  EXPECT_EQ(telvane.Run({}), 0);
  boxes = platform::ListBoxes();
  ASSERT_EQ(boxes.size(), 2u) << telvane.TraceText();
  EXPECT_NE(boxes[1].text.find("was not found"), std::string::npos) << boxes[1].text;
  EXPECT_EQ(platform::FindWindow("MainWindow"), 0);
}

TEST(MainWindowTest, StartsWithoutTrayAreaAndLaysOutOncePerOrientation) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_EQ(dev.Console({"reg", "set", "HKLM", kSettings, "tray_icon", "dword", "1"}), 0);
  ASSERT_TRUE(telvane.StartAndWaitUntilReady()) << telvane.TraceText();
  const std::string noTray = "no notification area";
  const std::string relayout = "Cambio de orientacion";
  EXPECT_EQ(Count(telvane.TraceText(), noTray), 1);
  ASSERT_EQ(Count(telvane.TraceText(), relayout), 1);

  // Portrait to landscape: one layout more.
  ASSERT_EQ(dev.Console({"rotate"}), 0);
  ASSERT_TRUE(WaitUntil([&] { return Count(telvane.TraceText(), relayout) == 2; }))
      << telvane.TraceText();
  // Another landscape size of the same class is no turn, but its buttons are placed again for
  // the smaller window; the screenshot after it shows that the window has handled the change.
  fs::path shot = dev.folder() / "shot.png";
  ASSERT_EQ(dev.Console({"screen", "300x200"}), 0);
  ASSERT_TRUE(WaitUntil([&] {
    return dev.Console({"screenshot", shot.string()}) == 0 &&
           telvane.TraceText().find("CWindowMain::OnSize(300, 200) lays the buttons out again") !=
               std::string::npos;
  })) << telvane.TraceText();
  EXPECT_EQ(Count(telvane.TraceText(), relayout), 2);
  // A landscape screen of another class brings its own skin and so its own layout.
  ASSERT_EQ(dev.Console({"screen", "640x480"}), 0);
  ASSERT_TRUE(WaitUntil([&] { return Count(telvane.TraceText(), relayout) == 3; }))
      << telvane.TraceText();
  // Back to portrait: one more.
  ASSERT_EQ(dev.Console({"rotate"}), 0);
  ASSERT_TRUE(WaitUntil([&] { return Count(telvane.TraceText(), relayout) == 4; }))
      << telvane.TraceText();
  EXPECT_EQ(Count(telvane.TraceText(), noTray), 1);
}

}  // namespace

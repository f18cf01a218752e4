// The phone's touch screen and keys through the device console, on the running telvane: the
// window registry the console reads, taps and keys delivered to the window, and the picture of
// the whole screen.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/Json.h"
#include "platform/Types.h"
#include "support/Programs.h"
#include "support/Wait.h"

namespace fs = std::filesystem;
using platform::Json;

namespace {

// The windows `state --json` lists, top-most first.
Json Windows(TestDevice& dev) {
  std::string out;
  if (dev.Console({"state", "--json"}, &out) != 0)
    return Json::array();
  auto report = platform::ParseJson(out);
  return report ? (*report)["windows"] : Json::array();
}

std::optional<Json> WindowOf(TestDevice& dev, const std::string& cls) {
  for (const Json& w : Windows(dev)) {
    if (w["class"] == cls)
      return w;
  }
  return std::nullopt;
}

bool Visible(TestDevice& dev, const std::string& cls) {
  auto w = WindowOf(dev, cls);
  return w && (*w)["visible"] == true;
}

QImage Load(const fs::path& file) {
  return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB32);
}

TEST(InputTest, TapsAndKeysReachTheWindowAndTheScreenShowsIt) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(testsupport::WaitUntil([&] {
    auto w = WindowOf(dev, "MainWindow");
    return w && (*w)["visible"] == true && (*w)["active"] == true;
  })) << telvane.TraceText();

  // The main window covers the screen and is listed with its owner.
  Json main = *WindowOf(dev, "MainWindow");
  EXPECT_EQ(main["pid"], telvane.Pid());
  EXPECT_EQ(main["title"], "Telvane");
  EXPECT_EQ(main["enabled"], true);
  EXPECT_EQ(main["x"], 0);
  EXPECT_EQ(main["y"], 0);
  EXPECT_EQ(main["width"], 240);
  EXPECT_EQ(main["height"], 320);
  std::string out, err;
  ASSERT_EQ(dev.Console({"state"}, &out), 0);
  EXPECT_NE(out.find("MainWindow  pid " + std::to_string(telvane.Pid()) +
                     "  visible active  240x320+0+0  \"Telvane\""),
            std::string::npos)
      << out;

  // With only the main window shown, the screen is the window's own picture. The panel may
  // repaint between the two pictures, so they are taken again until a pair matches.
  fs::path own = dev.folder() / "own.png";
  fs::path screen = dev.folder() / "screen.png";
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        if (dev.Console({"screenshot", "--class", "MainWindow", own.string()}) != 0 ||
            dev.Console({"screenshot", "--screen", screen.string()}, &out) != 0)
          return false;
        QImage a = Load(own);
        return !a.isNull() && a == Load(screen);
      },
      10000));
  EXPECT_EQ(out, screen.string() + "\n");
  EXPECT_EQ(Load(screen).size(), QSize(240, 320));

  // The right soft key opens the menu: a window above the main window, which the screen's
  // picture shows over it while the main window's own picture does not.
  ASSERT_EQ(dev.Console({"key", "softright"}, &out, &err), 0) << err;
  Json windows = Windows(dev);
  ASSERT_FALSE(windows.empty());
  Json menu = windows[0];
  EXPECT_EQ(menu["class"], "QMenu");
  EXPECT_EQ(menu["pid"], telvane.Pid());
  EXPECT_EQ(menu["visible"], true);
  ASSERT_EQ(dev.Console({"screenshot", "--class", "MainWindow", own.string()}), 0);
  ASSERT_EQ(dev.Console({"screenshot", "--screen", screen.string()}), 0);
  QImage ownPicture = Load(own);
  QImage screenPicture = Load(screen);
  const QRect menuRect(menu["x"].get<int>(), menu["y"].get<int>(), menu["width"].get<int>(),
                       menu["height"].get<int>());
  ASSERT_TRUE(QRect(0, 0, 240, 320).contains(menuRect));
  EXPECT_NE(screenPicture.copy(menuRect), ownPicture.copy(menuRect));
  EXPECT_EQ(screenPicture.copy(0, menuRect.bottom() + 1, 240, 320 - menuRect.bottom() - 1),
            ownPicture.copy(0, menuRect.bottom() + 1, 240, 320 - menuRect.bottom() - 1));

  // Escape closes the menu; a tap on the menu bar's first item (the left soft key's "Hide")
  // hides the window, as it would under a finger.
  ASSERT_EQ(dev.Console({"key", "escape"}, &out, &err), 0) << err;
  EXPECT_FALSE(Visible(dev, "QMenu"));
  ASSERT_EQ(dev.Console({"tap", "10", "10"}, &out, &err), 0) << err;
  EXPECT_FALSE(Visible(dev, "MainWindow"));

  // Nothing is on the screen now: neither a tap nor a key has a window to go to.
  EXPECT_EQ(dev.Console({"tap", "10", "10"}, &out, &err), 2);
  EXPECT_NE(err.find("no window at 10,10"), std::string::npos) << err;
  EXPECT_EQ(dev.Console({"key", "f6"}, &out, &err), 2);
  EXPECT_NE(err.find("no active window"), std::string::npos) << err;
  EXPECT_EQ(dev.Console({"key", "menu"}, &out, &err), 2);
  EXPECT_NE(err.find("usage: telvane-device key up|down"), std::string::npos) << err;

  // Shown again, F6 hides it; the console returns once the window has handled the key.
  ASSERT_EQ(dev.Console({"post", "MainWindow", std::to_string(platform::WM_PLATFORM_SHOW),
                         std::to_string(platform::SW_SHOW), "0"}),
            0);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return Visible(dev, "MainWindow"); }));
  ASSERT_EQ(dev.Console({"key", "f6"}, &out, &err), 0) << err;
  EXPECT_FALSE(Visible(dev, "MainWindow"));
}

}  // namespace

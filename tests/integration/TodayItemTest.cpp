// The phone's home screen with Telvane's item, the real processes on a test device: the item
// follows the program as it starts, changes, ends and starts again, the place line sets its
// height, a theme change reaches its background, and bad item libraries are left out. What the
// item shows is read from its picture (`screenshot --class TelvaneTP`): each 25 x 25 icon is
// matched against the theme's td_*.png images.
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "support/Programs.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettings = "Software\\Orvella\\Telvane";
constexpr int kSlots = 6;
constexpr int kIcon = 25;

class TodayItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    images = dev.device().ProgramFolder() / "themes" / "default" / "qvga";
    if (!fs::exists(images / "td_unknown.png"))
      GTEST_SKIP() << "the theme images are drawn only in builds with the Qt user interface";
    for (const auto& entry : fs::directory_iterator(images)) {
      std::string name = entry.path().filename().string();
      if (name.rfind("td_", 0) == 0)
        icons[name] = QImage(QString::fromStdString(entry.path().string()))
                          .convertToFormat(QImage::Format_ARGB32);
    }
  }

  void Console(const std::vector<std::string>& args) { ASSERT_EQ(dev.Console(args), 0); }
  void SetSetting(const std::string& name, const std::string& kind, const std::string& value) {
    Console({"reg", "set", "HKLM", kSettings, name, kind, value});
  }

  QImage Picture() {
    std::string file = (dev.folder() / "item.png").string();
    if (dev.Console({"screenshot", "--class", "TelvaneTP", file}) != 0)
      return QImage();
    return QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB32);
  }

  // The image drawn in `slot`: the td_*.png whose opaque pixels the picture shows (within a few
  // shades), empty when none.
  std::string IconAt(const QImage& picture, int slot) const {
    for (const auto& [name, icon] : icons) {
      int opaque = 0, same = 0;
      for (int y = 0; y < icon.height() && y + 1 < picture.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
          QRgb want = icon.pixel(x, y);
          if (qAlpha(want) != 255)
            continue;
          ++opaque;
          QRgb got = picture.pixel(slot * kIcon + x, y + 1);
          same += std::abs(qRed(want) - qRed(got)) <= 8 &&
                  std::abs(qGreen(want) - qGreen(got)) <= 8 &&
                  std::abs(qBlue(want) - qBlue(got)) <= 8;
        }
      }
      if (opaque > 0 && same * 100 >= opaque * 95)
        return name;
    }
    return "";
  }
  std::vector<std::string> Icons(const QImage& picture) const {
    std::vector<std::string> out;
    for (int slot = 0; slot < kSlots; ++slot)
      out.push_back(IconAt(picture, slot));
    return out;
  }
  // Waits until the item's picture satisfies `done`; the last picture stays in `shot`.
  template <class Done>
  bool Shows(Done done) {
    return testsupport::WaitUntil(
        [&] {
          shot = Picture();
          return !shot.isNull() && done(shot);
        },
        20000, 200);
  }
  // The columns of the place line (the bottom ten rows) that differ from its first pixel.
  static std::pair<int, int> PlaceLineExtent(const QImage& picture) {
    int left = picture.width(), right = -1;
    for (int y = picture.height() - 10; y < picture.height(); ++y) {
      for (int x = 0; x < picture.width(); ++x) {
        if (picture.pixel(x, y) != picture.pixel(0, y)) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
      }
    }
    return {left, right};
  }
  static QImage Part(const QImage& picture, const QRect& area) { return picture.copy(area); }

  TestDevice dev;
  TelvaneProcess telvane{dev};
  HomeScreenProcess home{dev};
  fs::path images;
  std::map<std::string, QImage> icons;
  QImage shot;
};

TEST_F(TodayItemTest, TheItemFollowsTelvaneFromStartToEndAndAgain) {
  SetSetting("today_print_place", "dword", "1");
  Console({"bt", "off"});
  Console({"cell", "4711", "300"});
  ASSERT_TRUE(home.Start()) << home.ErrorText();

  // Before Telvane runs: the background only, no icons.
  ASSERT_TRUE(Shows([](const QImage& p) { return p.height() == 35; }));
  EXPECT_EQ(Icons(shot), std::vector<std::string>(kSlots, "")) << "no icons before Telvane runs";

  // Telvane starts: the item announces itself and draws what the program pushes.
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(Shows([&](const QImage& p) {
    auto icons = Icons(p);
    return icons[1] == "td_bluetooth_des.png" && icons[3] == "td_mobilephone.png" &&
           icons[2] != "td_unknown.png" && icons[2] != "";
  })) << home.ErrorText()
      << telvane.TraceText();

  // A change on the phone reaches the Bluetooth icon.
  Console({"bt", "discoverable"});
  ASSERT_TRUE(
      Shows([&](const QImage& p) { return IconAt(p, 1) == "td_bluetooth_discoverable.png"; }));

  // The place line reads what the main window published.
  const auto empty = PlaceLineExtent(shot);
  SetSetting("current_place", "string", "Home");
  SetSetting("current_frame", "string", "Morning");
  Console({"post", "TelvaneTP", "1230", "0", "0"});
  ASSERT_TRUE(Shows([&](const QImage& p) {
    auto line = PlaceLineExtent(p);
    return line.second - line.first > 2 * (empty.second - empty.first) + 30;
  }));
  const auto line = PlaceLineExtent(shot);
  EXPECT_NEAR((line.first + line.second) / 2.0, 120, 4) << "the place line is centred";
  const QRect numbers(152, 0, 88, 25);
  const QRect placeLine(0, 25, 240, 10);
  const QImage numbersBefore = Part(shot, numbers);
  const QImage placeBefore = Part(shot, placeLine);

  // Telvane ends: every icon becomes unknown, the numbers and the place line stay.
  Console({"post", "MainWindow", "273", "1234", "0"});
  ASSERT_TRUE(telvane.WaitForExit(30000));
  ASSERT_TRUE(Shows([&](const QImage& p) {
    return Icons(p) == std::vector<std::string>(kSlots, "td_unknown.png");
  }));
  EXPECT_EQ(Part(shot, numbers), numbersBefore);
  EXPECT_EQ(Part(shot, placeLine), placeBefore);

  // It starts again under a new window: the item registers once more and shows the states.
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(Shows([&](const QImage& p) {
    return IconAt(p, 1) == "td_bluetooth_discoverable.png" && IconAt(p, 3) == "td_mobilephone.png";
  })) << telvane.TraceText();

  // A tap on the item brings the hidden main window to the front.
  Console({"key", "f6"});
  ASSERT_TRUE(WaitUntil([] {
    for (const auto& w : platform::ListWindows()) {
      if (w.className == "MainWindow")
        return !w.state.visible;
    }
    return false;
  }));
  Console({"tap", "10", "40"});
  EXPECT_TRUE(WaitUntil([] {
    for (const auto& w : platform::ListWindows()) {
      if (w.className == "MainWindow")
        return w.state.visible;
    }
    return false;
  }));
}

TEST_F(TodayItemTest, ThePlaceSettingSetsTheHeightAndTheThemeTheBackground) {
  SetSetting("today_print_place", "dword", "0");
  ASSERT_TRUE(home.Start()) << home.ErrorText();
  ASSERT_TRUE(Shows([](const QImage& p) { return p.width() == 240; }));
  EXPECT_EQ(shot.height(), 25);
  const QColor light = shot.pixelColor(230, 20);
  ASSERT_GT(light.lightness(), 150) << "the default home screen is light";

  // The home screen's theme changes: the item is drawn again on the new watermark.
  Console({"reg", "set", "HKCU", "Software\\Microsoft\\Today", "Skin", "string",
           "\\Windows\\dark.tsk"});
  ASSERT_TRUE(Shows([](const QImage& p) { return p.pixelColor(230, 20).lightness() < 80; }));

  ASSERT_TRUE(home.Stop());
  SetSetting("today_print_place", "dword", "1");
  ASSERT_TRUE(home.Start()) << home.ErrorText();
  ASSERT_TRUE(Shows([](const QImage& p) { return p.width() == 240; }));
  EXPECT_EQ(shot.height(), 35);
}

TEST_F(TodayItemTest, BadItemLibrariesAreLeftOutAndTheHomeScreenGoesOn) {
  const std::string items = "Software\\Microsoft\\Today\\Items\\";
  Console({"reg", "set", "HKLM", items + "Missing", "DLL", "string", "\\Windows\\gone.so"});
  fs::path text = dev.folder() / "note.txt";
  std::ofstream(text) << "not a library";
  Console({"file", "put", text.string(), "\\Windows\\note.so"});
  Console({"reg", "set", "HKLM", items + "Broken", "DLL", "string", "\\Windows\\note.so"});
  Console({"file", "put", TELVANE_PHONE_LIB, "\\Windows\\plain.so"});
  Console({"reg", "set", "HKLM", items + "Plain", "DLL", "string", "\\Windows\\plain.so"});

  ASSERT_TRUE(home.Start()) << home.ErrorText();
  ASSERT_TRUE(WaitUntil([] { return platform::FindWindow("TelvaneTP") != 0; }))
      << "the good item is still loaded";
  const std::string errors = home.ErrorText();
  EXPECT_NE(errors.find("item \"Missing\" skipped: the library \\Windows\\gone.so is not on the "
                        "phone"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("item \"Broken\" skipped: cannot load \\Windows\\note.so"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find("item \"Plain\" skipped: \\Windows\\plain.so has no entry point "
                        "InitializeCustomItem"),
            std::string::npos)
      << errors;
  ASSERT_TRUE(Shows([](const QImage& p) { return !p.isNull(); }));
}

}  // namespace

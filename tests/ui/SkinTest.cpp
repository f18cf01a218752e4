// CSkin and the bar readers: screen classes, the flag and partial-value rules theme authors rely
// on, the layout that follows a rotation, and the missing, unreadable and broken skin files.
#include "ui/Skin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Registry.h"
#include "platform/Screen.h"
#include "platform/Text.h"
#include "support/TestDevice.h"
#include "ui/BarConfigXML.h"

namespace fs = std::filesystem;

namespace {

TEST(SkinClassifyTest, ScreenSizesGiveClassAndOrientation) {
  struct Case {
    int w, h, screenClass, orientation;
  } cases[] = {
      {240, 320, CSkin::kClassQvga, CSkin::kPortrait},
      {320, 240, CSkin::kClassQvga, CSkin::kLandscape},
      {480, 640, CSkin::kClassVga, CSkin::kPortrait},
      {640, 480, CSkin::kClassVga, CSkin::kLandscape},
      {240, 240, CSkin::kClassSquare, CSkin::kOrientationSquare},
      {480, 480, CSkin::kClassSquare, CSkin::kOrientationSquare},
      {480, 800, CSkin::kClassVga, CSkin::kPortrait},
      // Small screens of other shapes take the qvga layouts.
      {240, 300, CSkin::kClassQvga, CSkin::kPortrait},
      {320, 200, CSkin::kClassQvga, CSkin::kLandscape},
  };
  for (const Case& c : cases) {
    CSkin::Screen s = CSkin::Classify(c.w, c.h);
    EXPECT_EQ(s.screenClass, c.screenClass) << c.w << "x" << c.h;
    EXPECT_EQ(s.orientation, c.orientation) << c.w << "x" << c.h;
  }
  // Screens at least their class's size draw the skin as it is; smaller ones scale it by the
  // tighter side, so that the whole layout fits.
  EXPECT_EQ(CSkin::FitFor(240, 320), 1.0);
  EXPECT_EQ(CSkin::FitFor(640, 480), 1.0);
  EXPECT_EQ(CSkin::FitFor(480, 800), 1.0);
  EXPECT_EQ(CSkin::FitFor(480, 480), 1.0);
  EXPECT_EQ(CSkin::FitFor(176, 220), 0.6875);  // height: 220 / 320
  EXPECT_EQ(CSkin::FitFor(220, 176), 0.6875);  // width: 220 / 320
  EXPECT_EQ(CSkin::FitFor(120, 120), 0.5);
}

pugi::xml_node Parse(pugi::xml_document& doc, const char* xml) {
  EXPECT_TRUE(doc.load_string(xml)) << xml;
  return doc.document_element();
}

TEST(SkinReadTest, OnlyALowerCaseNoClearsAFlag) {
  struct Case {
    const char* xml;
    bool fromTrue, fromFalse;
  } cases[] = {
      {R"(<button border="no"/>)", false, false},
      {R"(<button border="No"/>)", true, true},
      {R"(<button border="false"/>)", true, true},
      {R"(<button border=""/>)", true, true},
      {R"(<button border="no "/>)", true, true},
      {R"(<button/>)", true, false},  // absent: the flag keeps its value
  };
  for (const Case& c : cases) {
    pugi::xml_document doc;
    pugi::xml_node node = Parse(doc, c.xml);
    EXPECT_EQ(CSkin::ReadFlag(node, "border", true), c.fromTrue) << c.xml;
    EXPECT_EQ(CSkin::ReadFlag(node, "border", false), c.fromFalse) << c.xml;
  }
}

TEST(SkinReadTest, PartialValuesKeepWhatTheElementOmits) {
  CSkin skin;
  pugi::xml_document doc;
  pugi::xml_node root = Parse(doc, R"(<r>
      <position x="5"/>
      <position x="7" cy="12px"/>
      <image id="a" cx="30">  </image>
      <font fontsize="9"><rgb r="1" g="2" b="3"/></font>
    </r>)");

  SkinPosition pos{1, 2, 3, 4};
  skin.ReadPosition(pos, root.child("position"));
  EXPECT_EQ(pos.x, 5);
  EXPECT_EQ(pos.y, 2);
  EXPECT_EQ(pos.cx, 3);
  EXPECT_EQ(pos.cy, 4);
  skin.ReadPosition(pos, root.child("position").next_sibling("position"));
  EXPECT_EQ(pos.x, 7);
  EXPECT_EQ(pos.cy, 12);  // decimal conversion stops at the first non-digit

  SkinImage image;
  image.file = "default.png";
  image.position.x = 4;
  skin.ReadImage(image, root.child("image"));
  EXPECT_EQ(image.file, "");  // an empty text names no file
  EXPECT_EQ(image.position.cx, 30);
  EXPECT_EQ(image.position.x, 4);
  EXPECT_EQ(image.colorKey.r, -1);

  SkinFont font;
  font.family = "Sans";
  skin.ReadFont(font, root.child("font"));
  EXPECT_EQ(font.family, "Sans");
  EXPECT_EQ(font.size, 9);
  EXPECT_EQ(font.bold, -1);
  EXPECT_EQ(font.color.b, 3);
}

// A skin with a qvga portrait and landscape layout; the landscape battery bar gives only part of
// what the portrait one gives.
constexpr const char* kSkinXml = R"(<?xml version="1.0" encoding="utf-8"?>
<telvane>
  <resolution id="qvga">
    <orientation id="portrait">
      <button id="bt" border="no"><position x="1" y="2" cx="60" cy="65"/></button>
      <bar id="battery" border="no" autolocate="yes" mode="gradient">
        <position x="4" y="5" cx="12" cy="40"/>
        <gradient id="begin"><rgb r="10" g="20" b="30"/></gradient>
        <gradient id="end"><rgb r="40" g="50" b="60"/></gradient>
        <image id="bar">bar.png</image>
        <ButtonText id="percentage"><position x="0" y="46"/><font family="Sans" fontsize="10" fontbold="700"><rgb r="0" g="0" b="0"/></font></ButtonText>
        <border_color width="2"><rgb r="1" g="2" b="3"/></border_color>
        <image id="AC" x="20" y="5">ac.png</image>
        <image id="battery" x="20" y="5">battery.png</image>
      </bar>
      <bar id="signal" mode="Gradient"><image id="signal">signal.png</image></bar>
    </orientation>
    <orientation id="landscape">
      <button id="bt"><position x="100"/></button>
      <bar id="battery"><position x="200"/></bar>
    </orientation>
  </resolution>
</telvane>
)";

class SkinFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTexts::ResetForTesting();
    platform::HKEY key;
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
        platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    fs::create_directories(program());
    fs::copy(fs::path(TELVANE_SOURCE_DIR) / "traductions", program() / "traductions",
             fs::copy_options::recursive);
  }
  void TearDown() override { CTexts::ResetForTesting(); }

  fs::path program() { return dev_.device().ProgramFolder(); }
  void SetTheme(const std::string& theme) {
    CRegistrySettings::Instance()->SetString("theme", theme);
  }
  void WriteSkin(const std::string& theme, const std::string& screenClass,
                 const std::string& text) {
    fs::path folder = program() / "themes" / theme / screenClass;
    fs::create_directories(folder);
    std::ofstream(folder / "skin.xml") << text;
  }

  TestDevice dev_;
};

TEST_F(SkinFileTest, LayoutFollowsTheScreenWhenItTurns) {
  WriteSkin("t", "qvga", kSkinXml);
  SetTheme("t");
  CSkin skin;
  skin.DetectScreen();
  ASSERT_EQ(skin.LoadSkin(), CSkin::LoadResult::kLoaded);
  EXPECT_EQ(skin.GetSkinFolder(), (program() / "themes/t/qvga/").string());

  CBarBatteryConfigXML battery(&skin);
  skin.GetBarConfig(battery, "battery");
  EXPECT_EQ(battery.id, "battery");
  EXPECT_FALSE(battery.border);
  EXPECT_TRUE(battery.autolocate);
  EXPECT_EQ(battery.mode, CBarConfigXML::kModeGradient);
  EXPECT_EQ(battery.position.x, 4);
  EXPECT_EQ(battery.gradientBegin.b, 30);
  EXPECT_EQ(battery.gradientEnd.r, 40);
  EXPECT_EQ(battery.barImage.file, "bar.png");
  EXPECT_EQ(battery.percentage.id, "percentage");
  EXPECT_EQ(battery.percentage.font.size, 10);
  EXPECT_EQ(battery.borderWidth, 2);
  EXPECT_EQ(battery.borderColor.b, 3);
  EXPECT_EQ(battery.acImage.file, "ac.png");
  EXPECT_EQ(battery.batteryImage.file, "battery.png");
  EXPECT_EQ(battery.batteryImage.position.x, 20);

  CBarSignalConfigXML signal(&skin);
  skin.GetBarConfig(signal, "signal");
  EXPECT_EQ(signal.mode, CBarConfigXML::kModeImage);  // only "gradient" selects the gradient
  EXPECT_EQ(signal.signalImage.file, "signal.png");

  ASSERT_TRUE(platform::RotateScreen());
  skin.DetectScreen();
  EXPECT_EQ(skin.GetScreenOrientation(), CSkin::kLandscape);
  EXPECT_FALSE(skin.NeedsReload());
  SkinPosition bt;
  skin.ReadPosition(bt, skin.GetButtonNode("bt").child("position"));
  EXPECT_EQ(bt.x, 100);
  EXPECT_EQ(bt.cx, -1);
  // The landscape bar gives only its x: everything else survives from the portrait read.
  skin.GetBarConfig(battery, "battery");
  EXPECT_EQ(battery.position.x, 200);
  EXPECT_EQ(battery.position.cy, 40);
  EXPECT_FALSE(battery.border);
  EXPECT_EQ(battery.acImage.file, "ac.png");

  // An absent bar stores only its id; a quote in an id cannot break out of the query.
  CBarSignalConfigXML none(&skin);
  skin.GetBarConfig(none, "signal");
  EXPECT_EQ(none.id, "signal");
  EXPECT_EQ(none.mode, CBarConfigXML::kModeGradient);
  EXPECT_FALSE(skin.GetButtonNode("x' or '1'='1"));

  // A smaller screen of the same class scales what is read from then on, never a length left
  // unset.
  ASSERT_TRUE(platform::SetScreenSize({220, 176}));
  skin.DetectScreen();
  EXPECT_FALSE(skin.NeedsReload());
  SkinPosition small;
  skin.ReadPosition(small, skin.GetButtonNode("bt").child("position"));
  EXPECT_EQ(small.x, 68);  // 100 at 0.6875, rounded down
  EXPECT_EQ(small.cx, -1);

  // On a screen of another class the qvga file has no layout until it is loaded again.
  ASSERT_TRUE(platform::SetScreenSize({480, 640}));
  skin.DetectScreen();
  EXPECT_TRUE(skin.NeedsReload());
  EXPECT_FALSE(skin.GetLayoutNode());
}

TEST_F(SkinFileTest, MissingAndUnreadableFilesAreReportedWithThePath) {
  WriteSkin("ok", "vga", kSkinXml);  // another class only
  fs::create_directories(program() / "themes/dir/qvga/skin.xml");
  const std::string en = "The skin file \\Program Files\\Telvane\\themes\\%s\\qvga\\skin.xml";
  struct Case {
    const char* theme;
    CSkin::LoadResult result;
    std::string text;
  } cases[] = {
      {"ok", CSkin::LoadResult::kNotLocated, "ok"},
      {"absent", CSkin::LoadResult::kNotLocated, "absent"},
      {"dir", CSkin::LoadResult::kUnreadable, "dir"},
      {"", CSkin::LoadResult::kNotLocated, ""},
      {"..", CSkin::LoadResult::kNotLocated, ".."},
  };
  for (const Case& c : cases) {
    SetTheme(c.theme);
    CSkin skin;
    skin.DetectScreen();
    EXPECT_EQ(skin.LoadSkin(), c.result) << c.theme;
    std::string expected = platform::Format(en.c_str(), c.text.c_str());
    expected +=
        c.result == CSkin::LoadResult::kNotLocated ? " was not found." : " could not be read.";
    EXPECT_EQ(skin.GetLoadErrorText(), expected) << c.theme;
    EXPECT_FALSE(skin.GetLayoutNode());
  }
}

TEST_F(SkinFileTest, SyntaxErrorLoadsWithEveryDefault) {
  // The error comes after the layout, so a half-read document would still hold the button.
  std::string broken = kSkinXml;
  broken.replace(broken.find("</telvane>"), 10, "<unclosed></telvane>");
  WriteSkin("broken", "qvga", broken);
  SetTheme("broken");
  CSkin skin;
  skin.DetectScreen();
  EXPECT_EQ(skin.LoadSkin(), CSkin::LoadResult::kLoaded);
  EXPECT_EQ(skin.GetLoadErrorText(), "");
  EXPECT_FALSE(skin.GetButtonNode("bt"));
  CBarBatteryConfigXML battery(&skin);
  skin.GetBarConfig(battery, "battery");
  EXPECT_TRUE(battery.border);
  EXPECT_EQ(battery.position.x, -1);
  EXPECT_EQ(battery.acImage.file, "");
}

}  // namespace

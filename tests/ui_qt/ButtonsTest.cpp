// The owner-drawn buttons: which image and which status text each class shows for each status,
// the enabling at -1, the "question.png" fallback of the image cache and colour keys.
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>

#include <gtest/gtest.h>

#include <QFontInfo>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"
#include "ui/BarPainter.h"
#include "ui/BaseWindow.h"
#include "ui/ButtonBT.h"
#include "ui/ButtonBand.h"
#include "ui/ButtonConnections.h"
#include "ui/ButtonOwnCurrentLocation.h"
#include "ui/ButtonPhone.h"
#include "ui/ButtonSpeaker.h"
#include "ui/ButtonWifi.h"
#include "ui/SkinDraw.h"

namespace fs = std::filesystem;

namespace {

class ButtonsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CTexts::ResetForTesting();
    ResetSkinImagesForTesting();
    platform::HKEY key;
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
        platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    fs::create_directories(program());
    fs::copy(fs::path(TELVANE_SOURCE_DIR) / "traductions", program() / "traductions",
             fs::copy_options::recursive);
    images_ = program() / "images";
    fs::create_directories(images_);
    SetSkinImageFolder(images_.string() + "/");
  }
  void TearDown() override {
    ResetSkinImagesForTesting();
    CTexts::ResetForTesting();
  }

  fs::path program() { return dev_.device().ProgramFolder(); }
  // A one-colour image file in the skin folder.
  void WriteImage(const std::string& name, QColor colour, QSize size = {8, 8}) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(QString::fromStdString((images_ / name).string()), "PNG"));
  }
  static std::string Tr(const char* id) { return CTexts::GetInstance()->GetText(id); }

  TestDevice dev_;
  fs::path images_;
};

struct Row {
  int status;
  const char* unpressed;  // file of the image chosen when not pressed ("" for none)
  const char* pressed;    // and when pressed
  const char* textId;     // status text id ("" for no status text)
};

// Without a skin the pressed and unpressed image of a pair name the same default file.
template <class Button>
void CheckTable(const std::vector<Row>& rows, const char* name) {
  Button button(nullptr, nullptr, nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(name) + " status " + std::to_string(row.status));
    auto unpressed = button.GetImageForStatus(row.status, false);
    auto pressed = button.GetImageForStatus(row.status, true);
    EXPECT_EQ(unpressed.image ? unpressed.image->file : "", row.unpressed);
    EXPECT_EQ(pressed.image ? pressed.image->file : "", row.pressed);
    button.StatusChanged(row.status);
    std::string expected = *row.textId ? CTexts::GetInstance()->GetText(row.textId) : "";
    EXPECT_EQ(button.GetTextStatus(), expected);
    EXPECT_EQ(button.isEnabled(), row.status != -1);
  }
}

TEST_F(ButtonsTest, EveryClassPicksImageAndTextByStatus) {
  CheckTable<CButtonBT>(
      {{-1, "bluetooth_dis.png", "bluetooth_dis.png", "DISABLED"},
       {0, "bluetooth_des.png", "bluetooth_des.png", "OFF"},
       {1, "bluetooth.png", "bluetooth.png", "ON"},
       {2, "bluetooth_discoverable.png", "bluetooth_discoverable.png", "DISCOVERABLE"},
       {7, "bluetooth_dis.png", "bluetooth_dis.png", ""}},
      "bt");
  CheckTable<CButtonSpeaker>({{-1, "speaker_dis.png", "speaker_dis.png", "DISABLED"},
                              {0, "speaker_des.png", "speaker_des.png", "OFF"},
                              {1, "speaker_vibrate.png", "speaker_vibrate.png", "VIBRATE"},
                              {2, "speaker.png", "speaker.png", "ON"},
                              {3, "speaker_dis.png", "speaker_dis.png", ""}},
                             "speaker");
  CheckTable<CButtonBand>({{-1, "2g_dis.png", "2g_dis.png", "DISABLED"},
                           {0, "auto.png", "auto.png", "BAND AUTO"},
                           {1, "2g.png", "2g.png", "BAND 2G"},
                           {2, "3g.png", "3g.png", "BAND 3G"},
                           {5, "", "", ""}},
                          "band");
  CheckTable<CButtonConnections>({{-1, "connection_dis.png", "connection_dis.png", "DISABLED"},
                                  {0, "connection_dis.png", "connection_dis.png", "DISABLED"},
                                  {1, "connection_des.png", "connection_des.png", "OFF"},
                                  {2, "connection.png", "connection.png", "ON"},
                                  {3, "connection_dis.png", "connection_dis.png", ""}},
                                 "connections");
  CheckTable<CButtonPhone>({{-1, "mobilephone_dis.png", "mobilephone_dis.png", "DISABLED"},
                            {0, "mobilephone.png", "mobilephone.png", "ON"},
                            {1, "mobilephone_des.png", "mobilephone_des.png", "OFF"},
                            {2, "mobilephone.png", "mobilephone.png", "OFF"},
                            {9, "mobilephone.png", "mobilephone.png", "OFF"}},
                           "phone");
  CheckTable<CButtonWifi>({{-1, "wifi_dis.png", "wifi_dis.png", "DISABLED"},
                           {0, "wifi_des.png", "wifi_des.png", "OFF"},
                           {1, "wifi.png", "wifi.png", "ON"},
                           {2, "wifi_dis.png", "wifi_dis.png", "UNKNOWN"}},
                          "wifi");
}

TEST_F(ButtonsTest, PressedImagesFollowThePairExceptWhereTheRowSaysUnpressed) {
  // With distinct pressed files the pair rule shows: the phone's "on" and the connections'
  // "off" keep the unpressed picture when pressed; the others take the pressed one.
  const char* skin = R"(<telvane><resolution id="qvga"><orientation id="portrait">
      <button id="phone"><image id="on_pressed">on_p.png</image><image id="off_pressed">off_p.png</image></button>
      <button id="connections"><image id="on_pressed">on_p.png</image><image id="off_pressed">off_p.png</image></button>
      <button id="bt"><image id="discoverable_pressed">disc_p.png</image></button>
    </orientation></resolution></telvane>)";
  fs::path folder = program() / "themes" / "t" / "qvga";
  fs::create_directories(folder);
  std::ofstream(folder / "skin.xml") << skin;
  CRegistrySettings::Instance()->SetString("theme", "t");
  std::unique_ptr<CSkin> s = CSkin::CreateForScreen();
  ASSERT_EQ(s->GetLoadResult(), CSkin::LoadResult::kLoaded);

  CButtonPhone phone(nullptr, nullptr, s.get());
  phone.GetConfigFromXML();
  EXPECT_EQ(phone.GetImageForStatus(0, true).image->file, "mobilephone.png");
  EXPECT_EQ(phone.GetImageForStatus(1, true).image->file, "off_p.png");
  CButtonConnections connections(nullptr, nullptr, s.get());
  connections.GetConfigFromXML();
  EXPECT_EQ(connections.GetImageForStatus(1, true).image->file, "connection_des.png");
  EXPECT_EQ(connections.GetImageForStatus(2, true).image->file, "on_p.png");
  CButtonBT bt(nullptr, nullptr, s.get());
  bt.GetConfigFromXML();
  EXPECT_EQ(bt.GetImageForStatus(2, true).image->file, "disc_p.png");
  EXPECT_EQ(bt.GetImageForStatus(2, false).image->file, "bluetooth_discoverable.png");
}

TEST_F(ButtonsTest, BaseButtonAndUpperText) {
  ButtonParams params;
  params.captionId = "HIDE BUTTON";
  params.off = params.on = params.disabled = "hide.png";
  CButtonOwnDrawImage hide(nullptr, nullptr, nullptr, params);
  EXPECT_EQ(hide.GetImageForStatus(-1, false).image->file, "hide.png");
  hide.StatusChanged(-1);
  EXPECT_EQ(hide.GetTextStatus(), Tr("DISABLED"));
  hide.StatusChanged(0);
  EXPECT_EQ(hide.GetTextStatus(), "");
  EXPECT_EQ(hide.GetUpperText().toStdString(), Tr("HIDE BUTTON"));

  CButtonBT bt(nullptr, nullptr, nullptr);
  bt.StatusChanged(2);
  std::string upper = Tr("BT BUTTON") + " - " + Tr("DISCOVERABLE");
  EXPECT_EQ(bt.GetUpperText().toStdString(), upper);
  EXPECT_EQ(bt.accessibleName().toStdString(), upper);
}

TEST_F(ButtonsTest, StatusFromAnotherThreadIsAppliedOnTheUiThread) {
  CButtonWifi wifi(nullptr, nullptr, nullptr);
  std::thread worker([&] { wifi.OnStatusChanged(-1, 0, 0); });
  worker.join();
  EXPECT_EQ(wifi.GetStatus(), STATUS_UNKNOWN);  // queued, not applied on the worker
  QCoreApplication::processEvents();
  EXPECT_EQ(wifi.GetStatus(), -1);
  EXPECT_FALSE(wifi.isEnabled());
  std::thread again([&] { wifi.OnStatusChanged(1, 0, 0); });
  again.join();
  QCoreApplication::processEvents();
  EXPECT_TRUE(wifi.isEnabled());
  EXPECT_EQ(wifi.accessibleName().toStdString(), Tr("WIFI BUTTON") + " - " + Tr("ON"));
}

TEST_F(ButtonsTest, MissingImageFallsBackToQuestionAndIsCachedOnce) {
  WriteImage("question.png", Qt::red);
  WriteImage("wifi.png", Qt::blue);
  const QImage* wifi = LoadSkinImage("wifi.png");
  ASSERT_NE(wifi, nullptr);
  EXPECT_EQ(wifi->pixelColor(2, 2), QColor(Qt::blue));
  EXPECT_EQ(LoadSkinImage("wifi.png"), wifi);
  const QImage* missing = LoadSkinImage("nothere.png");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->pixelColor(2, 2), QColor(Qt::red));
  // A button whose image is missing draws question.png in its place (keyed by its pixel (1, 1),
  // which is white here).
  QImage question(44, 49, QImage::Format_ARGB32);
  question.fill(Qt::red);
  question.setPixelColor(1, 1, Qt::white);
  fs::create_directories(images_ / "q2");
  ASSERT_TRUE(question.save(QString::fromStdString((images_ / "q2" / "question.png").string())));
  SetSkinImageFolder((images_ / "q2").string() + "/");
  CButtonWifi button(nullptr, nullptr, nullptr);
  button.resize(60, 65);
  button.Create();
  button.StatusChanged(0);  // wifi_des.png: absent
  QImage canvas(60, 65, QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  {
    QPainter p(&canvas);
    button.DrawItem({false, false, &p, QRect(0, 0, 60, 65)});
  }
  EXPECT_EQ(canvas.pixelColor(30, 30), QColor(Qt::red));
}

TEST_F(ButtonsTest, NoImageAndNoQuestionFailsCreate) {
  CButtonWifi button(nullptr, nullptr, nullptr);
  EXPECT_THROW(button.Create(), std::exception);
}

TEST_F(ButtonsTest, ColourKeyClearsOnlyTheKey) {
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(QColor(255, 0, 255));
  image.setPixelColor(0, 0, QColor(10, 20, 30));
  // The skin's key.
  const QImage& keyed = ColorKeyedBySkin(&image, SkinColor{255, 0, 255});
  EXPECT_EQ(keyed.format(), QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(keyed.pixel(2, 2)), 0);
  EXPECT_EQ(keyed.pixelColor(0, 0), QColor(10, 20, 30));
  // Without one, pixel (1, 1) is the key.
  image.setPixelColor(1, 1, QColor(10, 20, 30));
  const QImage& byPixel = ColorKeyedBySkin(&image, SkinColor{});
  EXPECT_EQ(qAlpha(byPixel.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(byPixel.pixel(3, 3)), 255);
  // An image with its own transparency at (1, 1) keeps its opaque black strokes.
  QImage alpha(4, 4, QImage::Format_ARGB32);
  alpha.fill(Qt::transparent);
  alpha.setPixelColor(2, 2, Qt::black);
  EXPECT_EQ(qAlpha(ColorKeyedBySkin(&alpha, SkinColor{}).pixel(2, 2)), 255);
}

TEST_F(ButtonsTest, TransparentButtonShowsTheBackgroundThroughTheKey) {
  WriteImage("question.png", Qt::red);
  WriteImage("wifi.png", QColor(255, 0, 255), {44, 49});
  CButtonWifi button(nullptr, nullptr, nullptr);
  button.Create();
  button.StatusChanged(1);
  QImage canvas(60, 65, QImage::Format_ARGB32);
  canvas.fill(Qt::green);
  {
    QPainter p(&canvas);
    button.DrawItem({false, false, &p, QRect(0, 0, 60, 65)});
  }
  // The image (all key colour) leaves the built-in fill colour of a button without focus.
  EXPECT_EQ(canvas.pixelColor(30, 30), QColor(150, 150, 255));
}

TEST_F(ButtonsTest, BarIconShrinksWithAScreenDrawnSmallerThanItsClass) {
  WriteImage("battery.png", Qt::blue, {20, 30});
  CBarBatteryConfigXML bar;
  bar.position = {10, 50, 12, 40};
  QImage canvas(100, 100, QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  QPainter p(&canvas);
  // At the class's own size the icon is drawn as it is, just above the frame.
  EXPECT_EQ(CBarPainter::DrawBattery(p, bar, 50, false).icon, QRect(10, 18, 20, 30));
  // On a 176x220 screen (fit 0.6875) it shrinks with the frame it stands on.
  bar.fit = 0.6875;
  canvas.fill(Qt::white);
  EXPECT_EQ(CBarPainter::DrawBattery(p, bar, 50, false).icon, QRect(10, 27, 14, 21));
  EXPECT_EQ(canvas.pixelColor(16, 40), QColor(Qt::blue));
  EXPECT_EQ(canvas.pixelColor(26, 40), QColor(Qt::white));
}

TEST_F(ButtonsTest, FrameTextOfThePanel) {
  EXPECT_EQ(CButtonOwnCurrentLocation::FormatFrame("Office", 9, 5, 17, 30), "Office(09:05-17:30)");
  std::string longName(60, 'x');
  EXPECT_EQ(CButtonOwnCurrentLocation::FormatFrame(longName, 0, 0, 23, 59).size(), 48u);
}

TEST_F(ButtonsTest, TahomaFallsBackToAnInstalledFace) {
  EXPECT_EQ(QFontInfo(SkinQFont("Tahoma", 12, 700)).family(), "DejaVu Sans");
  EXPECT_EQ(QFontInfo(SkinQFont("", 12, 700)).family(), "DejaVu Sans");
}

// A window that paints nothing, for the key handling of the base.
class PlainWindow : public CBaseWindow {
 protected:
  void OnPaint(QPainter& p) override { p.fillRect(rect(), Qt::white); }
};

// Arrows and tab move the focus along the creation order on key-up, wrap at both ends and pass
// over a disabled button.
TEST_F(ButtonsTest, KeysMoveTheFocusAroundAndSkipDisabledButtons) {
  PlainWindow window;
  window.resize(240, 320);
  std::vector<CButtonOwnDrawImage*> buttons;
  for (int i = 0; i < 4; ++i) {
    ButtonParams params;
    params.controlId = 100 + i;
    auto* b = new CButtonOwnDrawImage(&window, &window, nullptr, params);
    window.AddButton(b);
    buttons.push_back(b);
  }
  window.show();
  window.activateWindow();
  buttons[0]->setFocus();
  ASSERT_EQ(window.focusWidget(), buttons[0]);
  auto press = [&](Qt::Key key) {
    // The key goes to the focused button, which hands its release to the window.
    QWidget* target = window.focusWidget();
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &up);
    return window.focusWidget();
  };
  EXPECT_EQ(press(Qt::Key_Up), buttons[3]);    // wraps backwards
  EXPECT_EQ(press(Qt::Key_Down), buttons[0]);  // and forwards
  EXPECT_EQ(press(Qt::Key_Tab), buttons[1]);
  EXPECT_EQ(press(Qt::Key_Right), buttons[2]);
  EXPECT_EQ(press(Qt::Key_Left), buttons[1]);
  buttons[2]->StatusChanged(STATUS_DISABLED);
  EXPECT_EQ(press(Qt::Key_Down), buttons[3]);
  EXPECT_EQ(press(Qt::Key_Up), buttons[1]);
  buttons[3]->StatusChanged(STATUS_DISABLED);
  buttons[0]->StatusChanged(STATUS_DISABLED);
  // The only enabled button keeps the focus.
  EXPECT_EQ(press(Qt::Key_Tab), buttons[1]);
  EXPECT_EQ(press(Qt::Key_Up), buttons[1]);
}

}  // namespace

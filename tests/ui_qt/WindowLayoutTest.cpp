// The main window's layout on the installed themes: on vga screens the feature buttons are laid
// out at twice the small-screen size, so that their double-size images are shown whole, and on
// every screen each button stands inside the window.
#include <QApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Screen.h"
#include "support/TestDevice.h"
#include "ui/ButtonOwnCurrentLocation.h"
#include "ui/ButtonOwnDrawImage.h"
#include "ui/SkinDraw.h"
#include "ui/WindowMain.h"

namespace fs = std::filesystem;

namespace {

TEST(WindowLayoutTest, FeatureButtonsAreScaledOnVgaAndStayInsideTheWindow) {
  TestDevice dev;
  ASSERT_EQ(dev.Console({"install"}), 0);
  if (!fs::exists(dev.device().ProgramFolder() / "themes/default/vga/bluetooth.png"))
    GTEST_SKIP() << "the theme images are drawn only in builds with the Qt user interface";
  CTexts::ResetForTesting();
  ResetSkinImagesForTesting();
  CRegistrySettings::Instance()->SetString("theme", "default");
  CRegistrySettings::Instance()->SetDWORD("tray_icon", 0);

  struct Case {
    platform::ScreenSize screen;
    QSize button;
  };
  const Case cases[] = {{{480, 640}, {120, 130}},
                        {{640, 480}, {120, 130}},
                        {{240, 320}, {60, 65}},
                        {{240, 240}, {40, 45}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.screen.width) + "x" + std::to_string(c.screen.height));
    ASSERT_TRUE(platform::SetScreenSize(c.screen));
    ResetSkinImagesForTesting();
    CWindowMain window;
    ASSERT_TRUE(window.InitGUI());
    QApplication::processEvents();
    const QRect panel = window.centralWidget()->rect();
    int features = 0;
    for (CButtonOwnDrawImage* button :
         window.centralWidget()->findChildren<CButtonOwnDrawImage*>()) {
      SCOPED_TRACE(button->accessibleName().toStdString());
      EXPECT_TRUE(panel.contains(button->geometry()))
          << button->geometry().x() << "," << button->geometry().y();
      if (dynamic_cast<CButtonOwnCurrentLocation*>(button))
        continue;
      ++features;
      EXPECT_EQ(button->size(), c.button);
      // The image drawn is the screen class's own, as large as the button on vga.
      auto choice = button->GetImageForStatus(0, false);
      ASSERT_TRUE(choice.bitmap);
      if (c.screen.width > 320 || c.screen.height > 320) {
        EXPECT_EQ(choice.bitmap->size(), c.button);
      }
    }
    EXPECT_EQ(features, 8);
    window.close();
  }
}

}  // namespace

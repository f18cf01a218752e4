// The themes that install puts on the phone: on every screen the program supports, each theme's
// skin loads, has a layout with every button and bar of the main window, and names only images
// that exist in the skin folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/RegistrySettings.h"
#include "platform/Screen.h"
#include "support/TestDevice.h"
#include "ui/Skin.h"

namespace fs = std::filesystem;

namespace {

TEST(ThemeFilesTest, EveryScreenOfEveryThemeHasItsLayoutAndImages) {
  TestDevice dev;
  ASSERT_EQ(dev.Console({"install"}), 0);
  fs::path program = dev.device().ProgramFolder();
  if (!fs::exists(program / "themes/default/qvga/bluetooth.png"))
    GTEST_SKIP() << "the theme images are drawn only in builds with the Qt user interface";
  EXPECT_TRUE(fs::exists(program / "mainwindow_bg.jpg"));

  const char* buttons[] = {"phone", "speaker", "bt",          "wifi", "refresh",
                           "hide",  "band",    "connections", "place"};
  const platform::ScreenSize screens[] = {
      {240, 320}, {320, 240}, {480, 640}, {640, 480}, {240, 240}};
  for (const char* theme : {"default", "dark"}) {
    CRegistrySettings::Instance()->SetString("theme", theme);
    for (const auto& screen : screens) {
      SCOPED_TRACE(std::string(theme) + " " + std::to_string(screen.width) + "x" +
                   std::to_string(screen.height));
      ASSERT_TRUE(platform::SetScreenSize(screen));
      CSkin skin;
      skin.DetectScreen();
      ASSERT_EQ(skin.LoadSkin(), CSkin::LoadResult::kLoaded);
      pugi::xml_node layout = skin.GetLayoutNode();
      ASSERT_TRUE(layout);
      for (const char* id : buttons)
        EXPECT_TRUE(skin.GetButtonNode(id)) << id;
      EXPECT_TRUE(skin.GetBarNode("battery"));
      EXPECT_TRUE(skin.GetBarNode("signal"));
      for (pugi::xpath_node image : layout.select_nodes(".//image")) {
        SkinImage record;
        skin.ReadImage(record, image.node());
        EXPECT_TRUE(fs::is_regular_file(skin.GetSkinFolder() + record.file))
            << record.file << " (" << image.node().attribute("id").value() << ")";
      }
    }
  }
}

}  // namespace

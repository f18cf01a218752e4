// The item's window in the test process, as a home screen holds it: its registration with the
// main window, the messages it takes, its height and how it reports a missing image.
#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>

#include "platform/Mosutil.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "support/TestDevice.h"
#include "support/Wait.h"
#include "today/ItemWindow.h"

using namespace platform;
using namespace today;

namespace {

class ItemWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"install"}), 0);
    library = (dev.device().ProgramFolder() / "libTodayTelvane.so").string();
  }
  void Set(const char* name, DWORD value) {
    ASSERT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, kSettingsKey, name, value), S_OK);
  }
  void Set(const char* name, const std::string& value) {
    ASSERT_EQ(RegistrySetString(HKEY_LOCAL_MACHINE, kSettingsKey, name, value), S_OK);
  }
  // Lets the messages queued onto this thread run.
  template <class Pred>
  bool Until(Pred pred) {
    return testsupport::WaitUntil([&] {
      QApplication::processEvents();
      return pred();
    });
  }

  TestDevice dev;
  std::string library;
  QWidget host;
  qt::TODAYLISTITEM record;
};

TEST_F(ItemWindowTest, AnnouncesItselfAndTakesTheMainWindowsMessages) {
  MessageQueueSink mainSink;
  HWND main = RegisterTopLevelWindow(kMainWindowClass, &mainSink);
  Set("today_print_place", DWORD{0});
  CItemWindow item(&record, &host, library);
  ASSERT_NE(item.Handle(), 0u);
  EXPECT_EQ(item.ImageFolderPath(), "\\Program Files\\Telvane\\themes\\default\\qvga");

  EXPECT_EQ(item.QueryRefresh(&record), 0);
  EXPECT_EQ(record.cyp, 25u);
  MessageQueueSink::Message m;
  ASSERT_TRUE(mainSink.Get(&m, 2000));
  EXPECT_EQ(m.msg, WM_ITEM_REGISTER);
  EXPECT_EQ(m.wParam, item.Handle()) << "the register message carries the item's window";

  Set("current_place", std::string("Home"));
  Set("current_frame", std::string("Morning"));
  PostMessage(item.Handle(), WM_ITEM_FEATURE_STATE, kSlotBluetooth, 2);
  PostMessage(item.Handle(), WM_ITEM_LOCATION, 4711, 300);
  PostMessage(item.Handle(), WM_ITEM_PLACE_CHANGED, 0, 0);
  ASSERT_TRUE(Until([&] { return item.Place() == "Home"; }));
  EXPECT_EQ(item.Frame(), "Morning");
  EXPECT_EQ(item.State().State(kSlotBluetooth), 2);
  EXPECT_EQ(item.State().First(), 4711);
  EXPECT_EQ(item.State().Second(), 300);
  EXPECT_EQ(item.QueryRefresh(&record), 1);
  DestroyTopLevelWindow(main);
}

TEST_F(ItemWindowTest, ThePlaceLineMakesTheItemTaller) {
  Set("today_print_place", DWORD{1});
  CItemWindow item(&record, &host, library);
  item.QueryRefresh(&record);
  EXPECT_EQ(record.cyp, 35u);
}

TEST_F(ItemWindowTest, AMissingImageIsReportedOnceAndLeftOut) {
  MessageQueueSink mainSink;
  HWND main = RegisterTopLevelWindow(kMainWindowClass, &mainSink);
  Set("theme", std::string("gone"));
  CItemWindow item(&record, &host, library);
  item.QueryRefresh(&record);
  const std::size_t before = ListBoxes().size();
  QImage picture(240, 25, QImage::Format_RGB32);
  item.Render(&picture);
  item.Render(&picture);
  auto boxes = ListBoxes();
  ASSERT_EQ(boxes.size(), before + 1) << "told once, not at every paint";
  EXPECT_EQ(boxes.back().text,
            "Error loading \\Program Files\\Telvane\\themes\\gone\\qvga\\td_unknown.png");
  DestroyTopLevelWindow(main);
}

}  // namespace

// The home-screen item's decisions: the refresh query against a main program that starts, ends
// and starts again, the feature-state messages, the images of each state and where the images
// are looked up for each screen.
#include <gtest/gtest.h>

#include "today/ItemState.h"

using namespace today;

namespace {

constexpr platform::HWND kMain = 41;
constexpr platform::HWND kRestartedMain = 57;

void PushEveryState(CItemState& state, int value) {
  for (int slot = 0; slot < kSlotCount; ++slot)
    state.OnFeatureState(slot, value);
}

TEST(ItemStateTest, RefreshQueryFollowsTheMainProgramThroughARestart) {
  CItemState state;
  // Before the program runs there is nothing to announce and nothing new to draw.
  auto answer = state.OnRefreshQuery(0);
  EXPECT_FALSE(answer.postRegister);
  EXPECT_FALSE(answer.refresh);

  // The program appears: the item announces itself once and waits for its states.
  answer = state.OnRefreshQuery(kMain);
  EXPECT_TRUE(answer.postRegister);
  EXPECT_FALSE(answer.refresh);
  EXPECT_EQ(state.MainWindow(), kMain);
  // Dirty since it was created: the next query draws.
  EXPECT_TRUE(state.OnRefreshQuery(kMain).refresh);
  EXPECT_TRUE(state.BeginPaint());
  // Still no speaker state: the program was not ready, so the item announces itself again.
  answer = state.OnRefreshQuery(kMain);
  EXPECT_TRUE(answer.postRegister);
  EXPECT_FALSE(answer.refresh);

  PushEveryState(state, 1);
  state.OnLocation(4711, 300);
  answer = state.OnRefreshQuery(kMain);
  EXPECT_TRUE(answer.refresh);
  EXPECT_FALSE(answer.postRegister);
  EXPECT_TRUE(state.BeginPaint());
  // Drawn and told everything: quiet.
  answer = state.OnRefreshQuery(kMain);
  EXPECT_FALSE(answer.refresh);
  EXPECT_FALSE(answer.postRegister);

  // The program ends: one redraw with every feature unknown; the numbers stay.
  answer = state.OnRefreshQuery(0);
  EXPECT_TRUE(answer.refresh);
  for (int slot = 0; slot < kSlotCount; ++slot)
    EXPECT_EQ(state.State(slot), kStateUnknown) << slot;
  EXPECT_EQ(state.First(), 4711);
  EXPECT_EQ(state.Second(), 300);
  EXPECT_TRUE(state.BeginPaint()) << "the last main window is still remembered";
  EXPECT_FALSE(state.OnRefreshQuery(0).refresh);

  // It starts again under a new handle: announced exactly once for that handle, then again only
  // while the speaker state is still unknown.
  EXPECT_TRUE(state.OnRefreshQuery(kRestartedMain).postRegister);
  EXPECT_EQ(state.MainWindow(), kRestartedMain);
  EXPECT_TRUE(state.OnRefreshQuery(kRestartedMain).postRegister);
  state.OnFeatureState(kSlotSpeaker, 2);
  answer = state.OnRefreshQuery(kRestartedMain);
  EXPECT_FALSE(answer.postRegister);
  EXPECT_TRUE(answer.refresh);
}

TEST(ItemStateTest, PaintWithoutAMainWindowDrawsNothingAndStaysDirty) {
  CItemState state;
  EXPECT_FALSE(state.BeginPaint());
  EXPECT_TRUE(state.Dirty());
}

TEST(ItemStateTest, FeatureStateMessagesSetTheirSlotOnly) {
  CItemState state;
  state.OnRefreshQuery(kMain);
  state.BeginPaint();
  ASSERT_FALSE(state.Dirty());
  state.OnFeatureState(kSlotWifi, 1);
  EXPECT_EQ(state.State(kSlotWifi), 1);
  EXPECT_TRUE(state.Dirty());

  state.BeginPaint();
  state.OnFeatureState(9, 2);
  for (int slot = 0; slot < kSlotCount; ++slot)
    EXPECT_EQ(state.State(slot), slot == kSlotWifi ? 1 : kStateUnknown) << slot;
  EXPECT_TRUE(state.Dirty()) << "a slot outside 0..5 still marks the item";
}

TEST(ItemStateTest, ImageTables) {
  struct Case {
    int slot;
    int state;
    const char* image;
  } cases[] = {
      {kSlotWifi, 0, "td_wifi_des.png"},
      {kSlotWifi, 1, "td_wifi.png"},
      {kSlotWifi, 2, "td_unknown.png"},
      {kSlotBluetooth, 2, "td_bluetooth_discoverable.png"},
      {kSlotBluetooth, 3, "td_unknown.png"},
      {kSlotSpeaker, 1, "td_speaker_vibrate.png"},
      {kSlotSpeaker, 2, "td_speaker.png"},
      {kSlotPhone, 0, "td_mobilephone.png"},
      {kSlotPhone, 1, "td_mobilephone_des.png"},
      {kSlotPhone, 7, "td_mobilephone.png"},
      {kSlotPhone, -2, "td_mobilephone.png"},
      {kSlotPhone, -1, "td_unknown.png"},
      {kSlotConnections, 0, "td_connection_dis.png"},
      {kSlotConnections, 1, "td_connection_des.png"},
      {kSlotBand, 0, "td_auto.png"},
      {kSlotBand, 2, "td_3g.png"},
      {kSlotBand, -1, "td_unknown.png"},
      {9, 1, "td_unknown.png"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(ImageFor(c.slot, c.state), c.image) << "slot " << c.slot << " state " << c.state;
}

TEST(ItemStateTest, ResolutionFolderOfEachScreen) {
  EXPECT_EQ(ResolutionFolder(240, 240), "square");
  EXPECT_EQ(ResolutionFolder(480, 640), "vga");
  EXPECT_EQ(ResolutionFolder(640, 480), "vga");
  EXPECT_EQ(ResolutionFolder(240, 320), "qvga");
  EXPECT_EQ(ResolutionFolder(320, 240), "qvga");
  EXPECT_EQ(ResolutionFolder(176, 220), "");

  const std::string library = "\\Program Files\\Telvane\\libTodayTelvane.so";
  EXPECT_EQ(ImageFolder(library, "dark", "qvga"), "\\Program Files\\Telvane\\themes\\dark\\qvga");
  EXPECT_EQ(ImageFolder(library, "dark", ""), "\\Program Files\\Telvane\\themes\\dark")
      << "without a resolution folder the images lie in the theme's folder";
}

}  // namespace

// What the home-screen item knows and decides, without its window: the six feature states, the
// location numbers, the refresh query's answer, the image drawn for each state and where the
// images live. The window (ItemWindow.h) carries the decisions out.
//
// Threads: used on the home screen's user-interface thread only.
#pragma once

#include <array>
#include <string>

#include "platform/Types.h"

namespace today {

// Messages between Telvane's main window and the item (the main window's own numbers).
inline constexpr platform::UINT WM_ITEM_REGISTER = platform::WM_USER + 203;
inline constexpr platform::UINT WM_ITEM_LOCATION = platform::WM_USER + 204;
inline constexpr platform::UINT WM_ITEM_FEATURE_STATE = platform::WM_USER + 205;
inline constexpr platform::UINT WM_ITEM_PLACE_CHANGED = platform::WM_USER + 206;

inline constexpr const char* kItemClass = "TelvaneTP";
inline constexpr const char* kMainWindowClass = "MainWindow";
inline constexpr const char* kSettingsKey = "Software\\Orvella\\Telvane";

// The feature slots, in drawing order.
enum Slot : int {
  kSlotWifi = 0,
  kSlotBluetooth = 1,
  kSlotSpeaker = 2,
  kSlotPhone = 3,
  kSlotConnections = 4,
  kSlotBand = 5,
  kSlotCount = 6,
};
inline constexpr int kStateUnknown = -1;

inline constexpr int kItemWidth = 240;
inline constexpr int kItemHeight = 25;
inline constexpr int kItemHeightWithPlace = 35;
inline constexpr int kIconSize = 25;

// The image of `slot` in `state`, e.g. "td_wifi.png"; "td_unknown.png" for a state the slot does
// not know and for a slot outside 0..5.
const char* ImageFor(int slot, int state);

// The theme's folder for a screen: "qvga" for 240x320 and 320x240, else "square" when width and
// height are equal, else "vga" when a side exceeds 320, else none (empty).
std::string ResolutionFolder(int width, int height);

// The folder of the item's images: the library's folder (a device path, cut at its last
// backslash), then "themes", the theme and the resolution folder; without a resolution folder
// the images lie directly in the theme's folder.
std::string ImageFolder(const std::string& libraryPath, const std::string& theme,
                        const std::string& resolution);

class CItemState {
 public:
  // The answer to the home screen's refresh query and whether the item must announce itself to
  // the main window first.
  struct QueryAnswer {
    bool refresh = false;
    bool postRegister = false;
  };

  // Decides the refresh query. `mainWindow` is the main program's window found now, 0 when it
  // does not run.
  QueryAnswer OnRefreshQuery(platform::HWND mainWindow);
  // A new state of one feature; a slot outside 0..5 changes nothing but still marks the item.
  void OnFeatureState(platform::WPARAM slot, platform::LPARAM state);
  void OnLocation(platform::WPARAM first, platform::LPARAM second);
  void MarkDirty() { dirty_ = true; }
  // A paint: true when there is something to draw (a main window was seen), which clears dirty;
  // false leaves the item marked, so the next query draws it.
  bool BeginPaint();

  int State(int slot) const {
    return slot >= 0 && slot < kSlotCount ? states_[slot] : kStateUnknown;
  }
  int First() const { return first_; }
  int Second() const { return second_; }
  bool Dirty() const { return dirty_; }
  platform::HWND MainWindow() const { return mainWindow_; }

 private:
  std::array<int, kSlotCount> states_{kStateUnknown, kStateUnknown, kStateUnknown,
                                      kStateUnknown, kStateUnknown, kStateUnknown};
  int first_ = 0;
  int second_ = 0;
  platform::HWND mainWindow_ = 0;
  bool mainWindowPresent_ = false;
  bool firstRegistrationPending_ = true;
  bool dirty_ = true;
};

}  // namespace today

// The phone's home screen: a window of the screen's size with a title bar (the phone's date and
// time), the watermark of the chosen home-screen theme, and a stack of items, each a library
// registered under HKLM "Software\Microsoft\Today\Items\NAME" (values "DLL": the library's device
// path, "Enabled", "Order") and loaded with dlopen. The contract with an item is
// platform/qt/TodayItem.h: about every two seconds each item is asked whether it must be drawn
// again (and how high it is); a theme change tells every item to drop its cache; the items ask
// for the text colour and for the watermark under them.
//
// An item library that is missing, cannot be loaded, has no entry point or creates no window is
// left out with a message on standard error and in the phone's log; the home screen goes on.
//
// Threads: the window lives on the user-interface thread. Window messages, the theme's registry
// watch and the screen's changes arrive on the endpoint thread and are queued onto it.
#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "home/HomeTheme.h"
#include "platform/Registry.h"
#include "platform/Types.h"
#include "platform/qt/TodayItem.h"

namespace home {

inline constexpr const char* kHomeScreenClass = "HomeScreen";
inline constexpr const char* kItemsKey = "Software\\Microsoft\\Today\\Items";
inline constexpr int kRefreshMs = 2000;

// One registered item as the registry describes it.
struct ItemEntry {
  std::string name;
  std::string dll;  // device path
  platform::DWORD order = 0;
};
// The enabled items of the registry, by "Order" then name.
std::vector<ItemEntry> RegisteredItems();

class CItemArea;

class CHomeScreen : public QWidget {
 public:
  CHomeScreen();
  ~CHomeScreen() override;

  // Loads every registered item; returns how many were loaded.
  int LoadItems();
  // Asks every item whether it must be drawn again, as the timer does.
  void Refresh();
  // Paints the theme's background of the window rectangle `area` (window coordinates).
  void PaintBackground(QPainter& painter, const QRect& area) const;
  const HomeTheme& Theme() const { return theme_; }
  platform::HWND Handle() const { return hwnd_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class Sink;
  struct LoadedItem {
    ItemEntry entry;
    void* library = nullptr;
    platform::qt::TODAYLISTITEM record;
    QWidget* window = nullptr;
  };

  bool Load(const ItemEntry& entry);
  void Skip(const ItemEntry& entry, const std::string& why);
  void Layout();
  void ApplyTheme();
  void ApplyScreenSize();
  void OnMessage(platform::UINT msg, platform::WPARAM wParam);
  int TitleHeight() const;

  std::unique_ptr<Sink> sink_;
  platform::HWND hwnd_ = 0;
  HomeTheme theme_;
  CItemArea* area_ = nullptr;
  std::vector<std::unique_ptr<LoadedItem>> items_;
  QTimer refresh_;
  int screenSubscription_ = 0;
  platform::HREGNOTIFY themeWatch_ = 0;
};

}  // namespace home

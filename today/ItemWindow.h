// The home-screen item's window, "TelvaneTP": a strip 240 pixels wide showing the six feature
// icons, the location numbers and, when the setting "today_print_place" asks for it, the current
// place and time frame. Telvane's main window pushes every value to it (by messages to the
// window registered under the item's class); the home screen asks it every few seconds whether
// it must be drawn again and paints the watermark under it.
//
// Threads: created, used and destroyed on the home screen's user-interface thread. Messages from
// other processes and picture requests arrive on the endpoint thread and are queued onto it.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/Types.h"
#include "platform/qt/TodayItem.h"
#include "today/ItemState.h"

namespace today {

class CItemWindow : public QWidget {
 public:
  // Creates the item as a visible child of `parent` and registers its window. `libraryPath` is
  // the host path of the item's library: the images are found beside it. `item` is the home
  // screen's record of the item; its height is set.
  CItemWindow(platform::qt::TODAYLISTITEM* item, QWidget* parent, const std::string& libraryPath);
  ~CItemWindow() override;

  // The item's window handle, 0 when it could not be registered.
  platform::HWND Handle() const { return hwnd_; }
  const CItemState& State() const { return state_; }
  // Where the images are looked up (a device path when the library lies on the phone).
  const std::string& ImageFolderPath() const { return imageFolder_; }
  bool PrintPlace() const { return printPlace_ != 0; }
  const std::string& Place() const { return place_; }
  const std::string& Frame() const { return frame_; }

  // The answer to the home screen's refresh query (1: draw the item again); sets the record's
  // height. Also how the tests and the benchmark ask.
  platform::qt::LRESULT QueryRefresh(platform::qt::TODAYLISTITEM* item);
  // A message from the main window (the item's window messages), on this thread.
  void HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam);
  // Draws the item as a paint would: the home screen's watermark, then, once a main window was
  // seen, the icons and texts. Clears dirty when it drew them.
  void Render(QImage* target);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  class Sink;

  void ReadPlace();
  // The host path of an image of the image folder.
  std::string ImagePath(const char* file) const;
  // The image with its colour key cleared, null when it cannot be loaded (reported once).
  const QImage* Icon(const char* file);
  void SaveScreenshot(std::uint64_t id, const std::string& file);

  CItemState state_;
  std::unique_ptr<Sink> sink_;
  platform::HWND hwnd_ = 0;
  int screenshotSubscription_ = 0;
  std::string imageFolder_;
  // The library lies outside the phone's file system: the folder is a host path.
  bool hostFolder_ = false;
  platform::DWORD printPlace_ = 0;
  std::string place_;
  std::string frame_;
  std::map<std::string, QImage> icons_;
  // Images already reported missing: a missing image is told once, not at every paint.
  std::set<std::string> reported_;
};

}  // namespace today

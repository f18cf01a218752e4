// The platform's Qt side: keeps the device's window registry in step with this process's
// top-level Qt windows (title, visibility, enabled state, geometry, stacking, activation) and
// takes the device console's taps, keys and picture requests for them.
//
// Screen coordinates are those of the display the program runs on, from the top-left corner of
// its primary screen; on the phone (Qt's offscreen platform) the main window fills the screen
// from 0,0.
//
// The phone's keys reach the window as Qt key events: the direction pad as the arrow keys, enter
// as Qt::Key_Return, escape, tab and F6 as themselves, and the left and right soft keys as
// Qt::Key_Context1 and Qt::Key_Context2, the keys Qt names for a phone's soft keys. A window
// handles them in its keyPressEvent (they are not offered to shortcuts).
//
// Threads: the tracker lives on the user-interface thread, with the QApplication and a device
// open. Requests arrive on the endpoint thread and are queued onto the user-interface thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/Input.h"
#include "platform/Screen.h"
#include "platform/Window.h"

namespace platform::qt {

// The Qt key a phone key is delivered as.
Qt::Key QtKeyFor(PhoneKey key);

class WindowTracker : public QObject {
 public:
  // The process's tracker, created on first use as a child of the application (so it ends with
  // it). User-interface thread.
  static WindowTracker& Instance();

  // Records `window`, a top-level widget its owner registered as `hwnd` with its own class and
  // sink; the owner also ends the registration. Every other top-level window of the process
  // (dialogs, menus, boxes) is registered by the tracker when first shown, under its Qt class
  // name, and removed from the registry when it is destroyed.
  void Track(QWidget* window, HWND hwnd);
  // The handle `window` is registered under, 0 when none.
  HWND HandleOf(const QWidget* window) const;

  ~WindowTracker() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Sink;
  struct Tracked {
    QPointer<QWidget> widget;
    // Registered by the tracker (and so removed by it), not by the window's owner.
    std::unique_ptr<Sink> sink;
    WindowState recorded;
    bool hasRecorded = false;
  };

  WindowTracker();
  // Registers a shown top-level window nobody registered yet.
  void Adopt(QWidget* window);
  void Forget(HWND hwnd);
  // Writes the window's state to the registry when it changed (always when `toTop`).
  void Record(HWND hwnd, bool toTop);
  QWidget* Find(HWND hwnd) const;
  void OnMessage(HWND hwnd, UINT msg, WPARAM wParam);
  void Deliver(std::uint64_t id, const InputRequest& request);
  // Runs `deliver` and calls `answer` once what it caused has been handled: after the events it
  // posted, or at once when it opened a dialog whose own loop is still running.
  void DeliverAndAnswer(const std::function<void()>& deliver,
                        std::function<void(const std::string&)> answer);
  void SavePicture(std::uint64_t id, HWND hwnd, const std::string& file);
  void Compose(std::uint64_t id, const ScreenComposition& composition);

  std::map<HWND, Tracked> windows_;
  int inputSubscription_ = 0;
  int pictureSubscription_ = 0;
  int composeSubscription_ = 0;
};

}  // namespace platform::qt

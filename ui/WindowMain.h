// The program's main window: a full-screen panel of the phone's screen size, resident for the
// program's whole life (closing it normally only hides it), and the receiver of every window
// message other processes and the core post to the program.
//
// Threads: the window lives on the user-interface thread. Its platform window handle receives
// messages on the endpoint thread (other processes) or on any posting thread (this process);
// they are queued onto the user-interface thread before they are handled. The IMainWindow
// operations are safe from any thread.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/MainWindowInterface.h"
#include "app/PerfCounter.h"
#include "platform/Window.h"
#include "ui/BarConfigXML.h"
#include "ui/BarPainter.h"
#include "ui/QueuedOnce.h"
#include "ui/Skin.h"

class ITimerNotificationTarget;
class QMenu;
class QSystemTrayIcon;
class CBarAccessible;
class CButtonOwnDrawImage;
class CButtonOwnCurrentLocation;
class CSettingsSheet;

class CWindowMain : public QMainWindow, public IMainWindow {
  Q_OBJECT

 public:
  // Soft-key and menu command ids.
  enum Command {
    CMD_HIDE = 5,
    CMD_ABOUT = 9,
    CMD_HIDE_BUTTON = 111,
    CMD_REFRESH = 112,
    CMD_EXIT = 1234,
    CMD_PAGE_MAIN = 40002,
    CMD_HELP = 40241,
    CMD_TEST_RESTART = 40057,
  };

  // The tray icon's id and the callback's left-button release.
  static constexpr platform::WPARAM kTrayIconId = 14;
  static constexpr platform::LPARAM kTrayLeftButtonUp = 514;
  static constexpr const char* kTrayIconSetting = "tray_icon";

  CWindowMain();
  ~CWindowMain() override;

  // Start-up: single-instance check, the platform window of class "MainWindow", the menus and
  // the panel. False when the program must not go on (another instance runs).
  bool InitGUI();

  // IMainWindow.
  platform::HWND GetHandle() const override { return hwnd_.load(); }
  void SendFeatureState(int mgrId, int status) override;
  void SendLocation(int first, int second) override;
  void PublishPlace(const std::string& place, const std::string& frame) override;
  void RefreshNotificationDiagnostics() override;
  void SetCloseWithoutAsking() override;
  void AddTimerTarget(ITimerNotificationTarget* target) override;

  // Commands and messages that later parts of the program handle. User-interface thread.
  void RegisterCommand(int id, std::function<void()> handler);
  void RegisterMessage(platform::UINT msg,
                       std::function<void(platform::WPARAM, platform::LPARAM)> handler);
  void SetIdleHandler(std::function<void()> handler) { idleHandler_ = std::move(handler); }
  // Runs a command as the menu would. User-interface thread.
  void RunCommand(int id) { OnCommand(id); }
  // The panel's skin, and the panel's button of `controlId` (null when none). User-interface
  // thread.
  CSkin* GetSkin() const { return skin_.get(); }
  CButtonOwnDrawImage* FindButton(int controlId) const;

  // Handles one window message; user-interface thread.
  void HandleMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam);

  bool IsShown() const { return shown_; }
  platform::HWND TodayWindow() const { return todayHwnd_.load(); }
  int DiagnosticCounter(int n) const { return n == 1 ? counter1_ : counter2_; }
  // Queues a refresh of the panel (features, location, signal and battery); any thread.
  void RequestPanelRefresh();
  // Adds or removes the notification-area icon as the "tray_icon" setting now says.
  void ApplyTrayIconSetting();
  // Opens the settings sheet modally on `page`, `prepare` selecting what the user asked for.
  void OpenSettings(int page, const std::function<void(CSettingsSheet&)>& prepare = {});

  // Paints of the panel of every main window of the process (background, bars, texts, upper
  // text; the buttons paint themselves): count, total and longest time.
  static CPerfCounter& PaintCounter();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The phone's keys (see platform/qt/WindowTracker.h): F6 and the left soft key hide the window,
  // the right soft key opens the menu.
  void keyPressEvent(QKeyEvent* event) override;
  // Activation marks the window as shown; deactivation of a window hidden meanwhile hides it.
  void changeEvent(QEvent* event) override;

 private:
  class Sink;

  // Command ids from here on are the menus' (the feature buttons' and hide's are below).
  static constexpr int kFirstMenuCommand = 40000;

  void CreateMenus();
  void OnCommand(int id);
  // The translated text of the menu entry with command `id`; empty when no entry has it.
  std::string MenuText(int id) const;
  void OnTimerNotification(int id, int param);
  void OnIdleNotification();
  void OnItemRegister(platform::HWND item);
  // True when the window may close now (asks the user when Exit was chosen).
  bool OnClose(bool systemRequest);
  void Hide();
  void ShowToFront();
  void UpdateDiagnosticLine();
  // The notification-area icon while the "tray_icon" setting is on and the desktop has one.
  void CreateTrayIcon();
  void RecordVisibility();
  // Sizes the window to the phone's screen.
  void ApplyScreenSize();
  // Saves the window as a PNG file and answers the request.
  void SaveScreenshot(std::uint64_t id, const std::string& file);
  QString Tr(const char* id);

  std::unique_ptr<Sink> sink_;
  std::atomic<platform::HWND> hwnd_{0};
  int screenSubscription_ = 0;
  int screenshotSubscription_ = 0;
  int clockSubscription_ = 0;
  std::atomic<platform::HWND> todayHwnd_{0};
  std::atomic<bool> closing_{false};
  std::atomic<bool> closeWithoutAsking_{false};
  bool shown_ = false;
  bool quitting_ = false;
  int counter1_ = 0;
  int counter2_ = 0;
  std::vector<ITimerNotificationTarget*> timerTargets_;
  std::map<int, std::function<void()>> commands_;
  std::map<platform::UINT, std::function<void(platform::WPARAM, platform::LPARAM)>> messages_;
  std::function<void()> idleHandler_;
  // Shows every feature's status and the location lines; user-interface thread.
  void RefreshPanel();

  CQueuedOnce panelRefresh_{this, [this] { RefreshPanel(); }};

  // The skinned panel (the central widget); see WindowMain.cpp.
  class Panel;
  friend class Panel;
  // Loads the skin; false (after the error box) when it cannot be located or read.
  bool LoadSkin();
  // Creates the buttons in their order, each listening to its manager and refreshed once.
  void CreateButtons();
  // Re-reads the layout element, the bars and the buttons when the orientation changed.
  void OnSize();
  void ReadLayout();
  // Draws the background, the bars, the diagnostic line and the bottom text.
  void PaintPanel(QPainter& p);
  void OnPanelCommand(int id);

  Panel* panel_ = nullptr;
  std::unique_ptr<CSkin> skin_;
  CBarBatteryConfigXML battery_;
  CBarSignalConfigXML signal_;
  CBarPainter::Rects batteryRects_;
  CBarPainter::Rects signalRects_;
  CBarAccessible* batteryA11y_ = nullptr;  // the bars on the accessibility bus
  CBarAccessible* signalA11y_ = nullptr;
  SkinImage background_;
  SkinTextLabel downText_;
  QImage backgroundBitmap_;  // mainwindow_bg.jpg
  int lastOrientation_ = 3;  // 3: not laid out yet
  QSize laidOutSize_;        // the screen size of the last layout
  QString diagnosticText_;
  CButtonOwnCurrentLocation* place_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;  // owned by the window; removed with it
  std::vector<CButtonOwnDrawImage*> buttons_;
};

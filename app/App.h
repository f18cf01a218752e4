// The application object: one per process. It owns the program's long-lived objects (through
// the derived application class), runs start-up and the message loop, and owns self-restart.
#pragma once

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/Types.h"

class CRegistrySettings;
class IMainWindow;

class CApp {
 public:
  // Publishes the process-wide pointer, writes the start-up event-log entry and serves the
  // device console's requests for the event log as CSV.
  CApp();
  // Removes every timed notification of this program; registers the 10-second relaunch when a
  // restart was requested.
  virtual ~CApp();
  CApp(const CApp&) = delete;
  CApp& operator=(const CApp&) = delete;

  static CApp* GetInstance();

  // Immediate self-restart: registers the relaunch 10 seconds ahead and ends the process at
  // once, without any shut-down.
  virtual void Restart();
  virtual CRegistrySettings* GetSettings() = 0;
  // Opens the database, initialises the managers and creates the main window; true when the
  // main window was created. User-interface thread.
  virtual bool InitGUI() = 0;

  // Stores the arguments, runs InitGUI and the message loop; returns the loop's exit code. The
  // program's exceptions end it in an orderly way after a box with their text.
  int WinMain(const std::string& cmdLine, int nCmdShow);

  // Orderly self-restart: marks the program for relaunch, tells the main window that it may
  // close without asking and posts it a close request. Any thread.
  void RequestExit();

  // The main window, or null. Only the user-interface thread, which owns the window, may keep
  // the pointer; other threads reach the window through WithMainWindow.
  IMainWindow* GetMainWindow() const { return mainWindow_.load(); }
  // Calls fn(window) while a main window is set; false when none is. Taking the window away
  // (SetMainWindow) waits for the calls under way, so the window outlives each of them. Any
  // thread; fn must not wait for the user-interface thread.
  template <class F>
  bool WithMainWindow(F&& fn) const {
    std::shared_lock lock(windowMutex_);
    IMainWindow* window = mainWindow_.load();
    if (!window)
      return false;
    fn(window);
    return true;
  }
  void SetMainWindow(IMainWindow* window) {
    std::unique_lock lock(windowMutex_);
    mainWindow_.store(window);
  }
  bool IsGuiInitialized() const { return guiInitialized_.load(); }
  bool IsRestartRequested() const { return restartRequested_.load() != 0; }
  const std::string& GetCommandLine() const { return cmdLine_; }
  int GetShowCommand() const { return nCmdShow_; }

  // Registers the notification that starts this program again, without arguments, 10 seconds
  // from now.
  static platform::HNOTIFY RegisterRelaunch();

 protected:
  // Runs the message loop until the program quits; returns the quit code.
  virtual int RunMessageLoop() = 0;
  void SetGuiInitialized() { guiInitialized_.store(true); }

 private:
  std::string cmdLine_;
  int nCmdShow_ = 0;
  std::atomic<int> restartRequested_{0};
  mutable std::shared_mutex windowMutex_;  // held while another thread calls the window
  std::atomic<IMainWindow*> mainWindow_{nullptr};
  std::atomic<bool> guiInitialized_{false};
  // The subscription that serves the console's CSV requests (CEventLog::ServeCsvRequests).
  int csvRequests_ = 0;
};

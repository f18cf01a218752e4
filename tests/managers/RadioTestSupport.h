// Shared pieces of the Bluetooth, beam and Wi-Fi manager tests: a device with the program's
// settings, an application object whose main window is a message queue the test reads as the
// user-interface thread would, and a bounded wait for a condition.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/App.h"
#include "app/EventLog.h"
#include "app/MainWindowInterface.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

namespace radiotest {

using testsupport::WaitUntil;

// The main window as the core sees it: a platform window of class "MainWindow" whose messages
// wait in a queue until the test takes them.
class TestMainWindow : public IMainWindow {
 public:
  TestMainWindow() : hwnd_(platform::RegisterTopLevelWindow(kMainWindowClass, &sink)) {}
  ~TestMainWindow() override { platform::DestroyTopLevelWindow(hwnd_); }
  platform::HWND GetHandle() const override { return hwnd_; }
  void SendFeatureState(int, int) override {}
  void SendLocation(int, int) override {}
  void PublishPlace(const std::string&, const std::string&) override {}
  void RefreshNotificationDiagnostics() override {}
  void SetCloseWithoutAsking() override {}
  void AddTimerTarget(ITimerNotificationTarget*) override {}

  platform::MessageQueueSink sink;

 private:
  platform::HWND hwnd_;
};

class TestApp : public CApp {
 public:
  TestApp() { SetMainWindow(&window); }
  ~TestApp() override { SetMainWindow(nullptr); }
  CRegistrySettings* GetSettings() override { return CRegistrySettings::Instance(); }
  bool InitGUI() override { return true; }

  TestMainWindow window;

 protected:
  int RunMessageLoop() override { return 0; }
};

// A fresh device with the program's settings key, every manager switchable, and a fresh
// translation table and event log.
class RadioFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::HKEY key;
    platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key);
    platform::RegSetDWORD(key, "events_log_items_screen", 100);
    platform::RegCloseKey(key);
    SetConfig(std::string(CMgr::kMgrConfigChars, '2'));
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
  }
  void TearDown() override {
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  void SetConfig(const std::string& config) {
    platform::RegistrySetString(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath,
                                "mgr_config", config);
    CMgr::LoadConfig();
  }
  void SetSetting(const char* name, platform::DWORD value) {
    platform::RegistrySetDWORD(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, name,
                               value);
  }
  // "Changing status" entries the managers wrote for `mgrId`.
  int ChangingEntries(int mgrId) {
    int n = 0;
    for (const auto& r : CEventLog::GetInstance()->GetRecords()) {
      if (r.code == mgrId && r.level == 2)
        ++n;
    }
    return n;
  }

  TestDevice dev;
};

}  // namespace radiotest

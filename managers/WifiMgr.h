// The Wi-Fi manager (id 0): shows whether the wireless LAN radio is on and switches it on, off or
// over. This base class reads the published state value "System\State\Hardware" "Wifi" and
// switches the adapter's device power; CWifiOssVcsMgr, which the application uses, reads and
// switches the radio through the wireless-device list instead.
//
// Status: 1 on, 0 off, -1 disabled, unreadable or a failed switch. The status starts at -1.
//
// Threads: commands run on the manager's command thread; refreshes caused by the "Wifi" watch
// run on the broker thread, those asked for by the user interface on its thread.
// ProcessTimerNotification and SwapStatus are called on the user-interface thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "app/Mgr.h"
#include "app/SystemStateBroker.h"

inline constexpr int WIFI_STATUS_OFF = 0;
inline constexpr int WIFI_STATUS_ON = 1;

class CWifiMgr : public CMgr, public IStateListener {
 public:
  CWifiMgr();
  ~CWifiMgr() override;

  // The Wi-Fi manager published at construction and again at initialisation; null when none.
  static CWifiMgr* GetInstance();

  // Finds the adapter, watches "Wifi" through the broker and reads the status.
  void Initialize() override;
  int GetId() const override { return MGR_ID_WIFI; }
  // "Wifi" above 5 is on, any other value off; an unreadable value is -1.
  void RefreshStatusChild(int force) override;
  // Powers the adapter up (any non-zero status) or down (0).
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override { ForceStatus(WIFI_STATUS_ON, 0, 0, 0); }
  // A timed notification always toggles the radio; its parameter is only traced.
  void ProcessTimerNotification(int param) override;
  void HandleCommandChild(int command, int value) override {}

  // Off (0) goes on; any other status, -1 included, goes off.
  virtual void SwapStatus();
  // The first value name under the power-state key that names a network adapter becomes the
  // device name; the status becomes -1 when there is none.
  virtual void FindDeviceName();

  // "Wifi" changed: refresh and tell the listeners.
  void OnStateChanged(platform::HREGNOTIFY handle) override;

  std::string GetDeviceName();
  platform::HREGNOTIFY GetWifiWatch() const { return wifiWatch_.load(); }

 protected:
  // Publishes the manager, then: false (status -1) when it is disabled in "mgr_config".
  bool BeginInitialize();
  // Steps shared with the derived class: watch "Wifi", then RefreshStatus(1).
  void WatchAndRefresh();
  // Stops every notification and command reaching the manager. Called first by the destructor
  // of the most derived class, so that nothing runs on a half-destroyed object; idempotent.
  void Detach();

 private:
  CSystemStateBroker* broker_ = nullptr;
  std::atomic<platform::HREGNOTIFY> wifiWatch_{0};
  std::mutex nameMutex_;
  std::string deviceName_;
  bool detached_ = false;
};

// The Wi-Fi manager the application uses: reads and switches the wireless LAN radio through the
// phone's wireless-device service, bound at run time. Without the service the manager stays at
// -1 and its commands do nothing.
//
// Every walk of the device list (get, use, free) holds the device-list lock; a wait for it
// longer than kListLockMs is traced and the walk goes on without it, so that a hung platform
// call cannot stop the manager for good.
//
// Threads: as CWifiMgr. GetDeviceStates and SetDeviceState may be called from any thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "managers/WifiMgr.h"
#include "platform/WirelessDevices.h"

class CWifiOssVcsMgr : public CWifiMgr {
 public:
  static constexpr int kListLockMs = 5000;
  // Argument of ChangeRadioState: keep the new state when the phone restarts.
  static constexpr platform::DWORD kSaveAction = 1;

  CWifiOssVcsMgr();
  // Frees the service binding.
  ~CWifiOssVcsMgr() override;

  // Binds the service, then as CWifiMgr: device name, "Wifi" watch, first reading.
  void Initialize() override;
  // From the device list: 1 when the (last listed) Wi-Fi record is on, otherwise 0. Without the
  // service or when the list cannot be read the status stays as it is.
  void RefreshStatusChild(int force) override;
  // Switches every Wi-Fi record on for status 1, off for any other status.
  void ForceStatusChild(int status, int minutes) override;
  void SwapStatus() override;
  std::string GetName() override;
  // The ON text for 1, the OFF text for every other status.
  std::string GetStatusName(int status) override;

  // The states of the listed Wi-Fi, phone and Bluetooth radios (a later record of a type
  // overwrites an earlier one; outputs of unlisted types are untouched). 0 on success, also
  // when the service is not bound (outputs untouched); -1 when the list cannot be read.
  int GetDeviceStates(int* wifi, int* phone, int* bluetooth);
  // Switches every listed radio of `type` to `state`. 0 when the last switch succeeded (or
  // there was nothing to switch), -2 when it failed, -1 when the list cannot be read or the
  // service is not bound.
  int SetDeviceState(platform::DWORD type, platform::DWORD state);

  // Whether the service's entry points are bound.
  static bool IsServiceBound();

 private:
  // A lock with a time limit, built on a condition variable so that the thread sanitizer
  // follows it.
  class ListLock {
   public:
    bool TryLockFor(int ms);
    void Unlock();

   private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
  };

  ListLock listLock_;
};

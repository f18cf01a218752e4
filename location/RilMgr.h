// CRilMgr: the cell-location manager (id 6). It keeps the serving cell identifier and location
// area code current from the phone's radio interface layer, turns each change into an
// event-log entry and a cell-history entry, and tells its status listeners (first of all the
// schedule engine). It also keeps the signal strength and the battery level as percentages for
// the main window's bars.
//
// Places are recognised either by cell or by location area ("location_mode"); the location
// code is the cell identifier in cell mode and the location area code otherwise. The manager's
// own status never changes after its first reading: its listeners learn what changed from the
// reason it fires with (REASON_SIGNAL, REASON_LOCATION, REASON_BATTERY).
//
// How often the location is asked for ("refresh_location" minutes, 0 = only notifications):
// mode 1 polls from the manager's own thread while the phone is awake; mode 2
// ("awake_to_refresh_location") arms a timed notification that wakes the phone.
//
// Threads: the radio's callbacks run on the radio's thread, the battery watch on the broker's
// thread, the polling on the manager's polling thread, ProcessTimerNotification on the
// user-interface thread. The location, signal and battery values and the pending request ids
// are atomic words, written and read whole; listeners are called on whichever thread made the
// change. The destructor stops the polling thread and closes the radio before anything of the
// manager goes away.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/Mgr.h"
#include "app/SystemStateBroker.h"
#include "platform/Ril.h"

class CStrPlace;

class CRilMgr final : public CMgr {
 public:
  // Reasons it fires its status with.
  static constexpr int REASON_SIGNAL = 0;
  static constexpr int REASON_LOCATION = 1;
  static constexpr int REASON_BATTERY = 2;
  // Refresh modes.
  static constexpr int REFRESH_NONE = 0;
  static constexpr int REFRESH_POLL = 1;
  static constexpr int REFRESH_WAKE = 2;
  // Notification classes it asks the radio for: network and miscellaneous.
  static constexpr platform::DWORD kNotificationClasses =
      platform::RIL_NCLASS_NETWORK | platform::RIL_NCLASS_MISC;
  // The parameter of its refresh wake-up.
  static constexpr int kRefreshTimerParam = 0;
  // Interval of the polling thread while polling is off.
  static constexpr int kIdlePollMs = 60000;

  // Settings.
  static constexpr const char* kLocationModeKey = "location_mode";
  static constexpr const char* kRefreshMinutesKey = "refresh_location";
  static constexpr const char* kAwakeToRefreshKey = "awake_to_refresh_location";
  static constexpr const char* kNotificationReceivedKey = "location_notification_received";

  // What the main window should repaint.
  enum Repaint { REPAINT_SIGNAL_BAR, REPAINT_BATTERY_BAR };
  using RepaintHook = std::function<void(Repaint)>;

  CRilMgr();
  ~CRilMgr() override;

  // The manager constructed last, or null.
  static CRilMgr* GetInstance();

  // The signal percentage of a signal-quality record: -1 when the record lacks the strength or
  // the minimum (or its limits make no range); otherwise 100 * (strength - minimum) / (maximum -
  // minimum), rounded toward zero, kept within 0..100.
  static int SignalPercent(const platform::RILSIGNALQUALITY& quality);
  // True when the phone radio is on: the phone manager's status is 0 (on); without a phone
  // manager, the phone's own radio state.
  static bool PhoneRadioOn();

  // Reads "location_mode"; unless disabled in "mgr_config", opens the radio, reads its status
  // with force, watches the battery, listens to the phone manager, applies the refresh settings
  // and starts the polling thread.
  void Initialize() override;
  int GetId() const override { return MGR_ID_RIL; }
  // Asks the radio for the cell and the signal (answered later) and reads the battery. A forced
  // refresh makes the next answers reported even when nothing changed. The manager's own status
  // is left as it is.
  void RefreshStatusChild(int force) override;
  // Nothing to switch.
  void ForceStatusChild(int status, int minutes) override {}
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}
  // The refresh wake-up (mode 2): asks for the cell when the radio is on and arms the next one.
  void ProcessTimerNotification(int param) override;
  // Cell identifier and location area code, for the home-screen item.
  void GetLocationNumbers(int* first, int* second) override;

  // The cell identifier in cell mode, else the location area code.
  std::int32_t GetLocationCode() const;
  std::int32_t GetCellId() const { return cellId_.load(); }
  std::int32_t GetLac() const { return lac_.load(); }
  int GetSignalPercent() const { return signalPercent_.load(); }
  int GetBatteryPercent() const { return batteryPercent_.load(); }
  // Sets the current code to 0 and reports a location change.
  void ResetLocation();
  // True when the current location code is in the location table.
  bool IsKnownLocation();
  // Fills `place` with the place of the current location; false when the location or its place
  // is unknown.
  bool GetCurrentPlace(CStrPlace* place);
  // Non-zero: cell mode. Stored in "location_mode".
  void SetLocationMode(int mode);
  int GetLocationMode() const { return cellMode_.load(); }
  // Reads "refresh_location" and "awake_to_refresh_location" and arms or clears the refresh
  // wake-up accordingly; the settings pages call it after a change.
  void ApplyRefreshSettings();
  int GetRefreshMode() const { return refreshMode_.load(); }
  int GetRefreshMinutes() const { return refreshMinutes_.load(); }
  // Asks the radio for the cell (answered later through the result callback).
  void RequestCellTowerInfo();

  // Diagnostics for the location report.
  int GetNotificationCount() const { return notifications_.load(); }
  int GetLocationNotificationCount() const { return locationNotifications_.load(); }
  int GetResultCount() const { return results_.load(); }
  int GetLocationResultCount() const { return locationResults_.load(); }
  std::string GetReportText() const;

  // How the main window repaints its bars; may be empty. Set before Initialize.
  void SetRepaintHook(RepaintHook hook) { repaintHook_ = std::move(hook); }

 private:
  class BrokerListener : public IStateListener {
   public:
    explicit BrokerListener(CRilMgr* owner) : owner_(owner) {}
    void OnStateChanged(platform::HREGNOTIFY handle) override;

   private:
    CRilMgr* owner_;
  };
  class PhoneListener : public IStatusListener {
   public:
    explicit PhoneListener(CRilMgr* owner) : owner_(owner) {}
    void OnStatusChanged(int status, int mgrId, int reason) override;
    std::string GetListenerName() override { return "CRilMgr"; }

   private:
    CRilMgr* owner_;
  };

  void OnNotify(platform::DWORD code, const void* data, std::size_t size);
  void OnResult(platform::DWORD code, platform::HRESULT requestId, const void* data,
                std::size_t size);
  void OnLocation(std::int32_t cellId, std::int32_t lac, bool fromNotification);
  void OnSignal(const void* data, std::size_t size, bool reportUnchanged);
  void ReadBattery();
  void OnPhoneStatus(int status);
  void RepaintBar(Repaint what);
  void PollLoop();
  bool IsEnabled() const;

  BrokerListener brokerListener_{this};
  PhoneListener phoneListener_{this};
  CMgr* phoneMgr_ = nullptr;  // the phone manager it listens to, if any
  bool brokerListening_ = false;
  RepaintHook repaintHook_;

  std::atomic<int> refreshMode_{-1};
  std::atomic<int> refreshMinutes_{-1};
  std::atomic<platform::HRIL> ril_{0};
  std::atomic<int> notifications_{0};
  std::atomic<int> locationNotifications_{0};
  std::atomic<int> results_{0};
  std::atomic<int> locationResults_{0};
  // Serialises location reports (radio thread) with the phone radio's changes (phone manager's
  // thread), so a report that raced a switch-off cannot bring back a cell.
  std::mutex locationMutex_;
  std::atomic<std::int32_t> cellId_{0};
  std::atomic<std::int32_t> lac_{0};
  // Held while a request is made and its id stored, and while an answer is matched to it.
  std::mutex requestMutex_;
  std::atomic<platform::HRESULT> pendingLocationRequest_{0};
  std::atomic<platform::HRESULT> pendingSignalRequest_{0};
  std::atomic<platform::HREGNOTIFY> batteryWatch_{0};
  std::atomic<int> signalPercent_{0};
  std::atomic<int> batteryPercent_{0};
  std::atomic<int> cellMode_{0};
  std::atomic<int> forceNotify_{0};

  std::mutex pollMutex_;
  std::condition_variable pollWake_;
  bool pollRunning_ = false;       // guarded by pollMutex_
  unsigned pollSettingsSeen_ = 0;  // guarded by pollMutex_; bumped by ApplyRefreshSettings
  std::thread pollThread_;
};

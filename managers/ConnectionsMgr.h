// The data-connections manager (id 4): the phone's dial-up/GPRS entries as one feature.
//
// It lists the entries the connection manager knows (phone-book entries that have a provider
// key with an "enabled" value), shows whether any is enabled and whether any is connected,
// enables or disables them all, connects or hangs up all of them or the preferred one, counts
// their traffic, and closes connections that stayed idle for "seconds_idle" seconds when
// "activate_idle" is set. It follows the phone-radio manager: when the radio's state changes it
// re-applies the current place's data-connection actions.
//
// Threads: commands (ForceStatusChild, HandleCommandChild) run on the manager's worker thread;
// NewEvent, ProcessIdleNotification and ProcessTimerNotification on the user-interface thread;
// OnStatusChanged on the notifying manager's thread. Every walk of the entry list holds the
// list lock (no time limit), so they interleave only between whole walks. The entry list is
// built once, by Initialize.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Mgr.h"
#include "managers/RasConnection.h"
#include "platform/Time.h"

// Something that shows the idle-close statistics (a settings page); refreshed after every idle
// check, on the thread that ran it.
class IConnectionsStatisticsObserver {
 public:
  virtual ~IConnectionsStatisticsObserver() = default;
  virtual void RefreshStatistics() = 0;
};

class CConnectionsMgr : public CMgr, public IStatusListener {
 public:
  // Status values.
  static constexpr int STATUS_NONE_ENABLED = 0;
  static constexpr int STATUS_NONE_CONNECTED = 1;
  static constexpr int STATUS_CONNECTED = 2;

  // Worker commands (command 0 also reaches HandleCommandChild when called directly; queued, it
  // is the framework's status change).
  static constexpr int CMD_ENABLE_ALL = 0;
  static constexpr int CMD_CONNECT_ALL = 1;
  static constexpr int CMD_CONNECT_PREFERRED = 2;

  // Settings.
  static constexpr const char* kPreferredKey = "connection_prefered";
  static constexpr const char* kActivateIdleKey = "activate_idle";
  static constexpr const char* kSecondsIdleKey = "seconds_idle";

  // The first idle check comes this long after a connection became active.
  static constexpr int kFirstIdleCheckSeconds = 20;
  // The phone book and the connection list are read at most this far.
  static constexpr std::size_t kMaxEntries = 50;

  // The values of the current place's actions for manager `mgrId`, in the order they apply.
  // The application wires it to the cell-location manager and the place tables.
  using PlaceActionsSource = std::function<std::vector<int>(int mgrId)>;

  CConnectionsMgr();
  ~CConnectionsMgr() override;

  // The process's manager, or null.
  static CConnectionsMgr* GetInstance();

  // CMgr.
  void Initialize() override;
  void RefreshStatusChild(int force) override;
  // The diagnostic test: 300 rounds of connecting and disconnecting, each with an event-log
  // entry and a 5-second pause. Blocks the calling thread for about 25 minutes.
  void RunTest() override;
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override;
  // The end of a time limit: `param` is the status to return to (0, 1 or 2).
  void ProcessTimerNotification(int param) override;
  void HandleCommandChild(int command, int value) override;
  std::string GetName() override;
  std::string GetStatusName(int status) override;

  // IStatusListener: the phone-radio manager's own report of a changed radio (reason 0)
  // re-applies the current place's data-connection actions.
  void OnStatusChanged(int status, int mgrId, int reason) override;
  std::string GetListenerName() override { return "CConnectionsMgr"; }

  // A connection-manager status message arrived. User-interface thread.
  void NewEvent(platform::WPARAM wParam);
  // The idle notification fired. User-interface thread.
  void ProcessIdleNotification();
  // Schedules the first idle check when a connection is active and idle closing is on;
  // otherwise removes any pending idle notification.
  void ReevaluateIdleNotification();
  // Stops idle tracking and removes any pending idle notification.
  void RemoveIddleNotifications();

  // Entry list operations. Index-based ones do nothing for an index outside the list.
  void EnumEntries();
  // A copy of the entries, in list order.
  std::vector<CRasConnection> GetEntries();
  void RefreshEntryStates();
  bool HayConexionesActivas();
  bool HayConexionesHabilitadas();
  void HabilitarTodasConexiones(bool enable);
  void SetEnabledAt(bool enable, int index);
  void ToggleEnabledAt(int index);
  void SetAlwaysOnAt(platform::DWORD value, int index);
  void ToggleAlwaysOnAt(int index);
  void ToggleConnectedAt(int index);
  void SetConnectedAt(bool connect, int index);
  void ConnectPreferred(bool connect);
  void ConectarTodasConexiones(bool connect);
  void ClearPreferred();
  void SetPreferredByName(const std::string& name);
  void PrintStatus();
  void HangUpDisabledActive();

  // Statistics.
  platform::DWORD GetTotalTraffic();
  int GetTrafficChecks();
  int GetIdleCloses();
  // Zero year: no check (or close) yet, or idle tracking is not running.
  platform::SYSTEMTIME GetLastCheck();
  platform::SYSTEMTIME GetLastClose();
  void AddStatisticsObserver(IConnectionsStatisticsObserver* observer);
  void RemoveStatisticsObserver(IConnectionsStatisticsObserver* observer);

  // The pending idle notification, 0 when none.
  platform::HNOTIFY GetIdleNotification();
  bool IsIdleTracking();

  void SetPlaceActionsSource(PlaceActionsSource source);

 private:
  void EstablecerEstadoConnection(CRasConnection& entry);
  CRasConnection* PreferredOrFirst();
  // Sets the entry preferred and writes its name to "connection_prefered".
  void MakePreferred(CRasConnection& entry);
  // Refreshes the traffic of every entry; true when any had traffic since the last check.
  bool HayTrafico();
  void RefreshAllTraffic();
  void SetIddleNotification(int seconds);
  void ClearIddleNotification();
  void StopIdleTracking();
  void RefreshMainWindow();
  void NotifyStatisticsObservers();

  std::recursive_mutex entriesMutex_;
  std::vector<std::unique_ptr<CRasConnection>> entries_;

  std::mutex listenerMutex_;
  std::mutex idleMutex_;
  platform::HNOTIFY idleNotification_ = 0;
  platform::SYSTEMTIME lastCheck_{};
  platform::SYSTEMTIME lastClose_{};
  int trafficChecks_ = 0;
  int idleCloses_ = 0;

  std::mutex observersMutex_;
  std::vector<IConnectionsStatisticsObserver*> observers_;

  std::mutex sourceMutex_;
  PlaceActionsSource placeActions_;
};

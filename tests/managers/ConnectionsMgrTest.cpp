// The data-connections manager on the simulated phone: entries, enabling and connecting, the
// idle close driven by the virtual clock, and following the phone radio.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "managers/ConnectionsMgr.h"
#include "platform/ConnMgr.h"
#include "platform/Notify.h"
#include "platform/Ras.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

using testsupport::WaitUntil;

// A window registered for the connection manager's status messages.
class StatusWindow {
 public:
  StatusWindow() {
    hwnd_ = RegisterTopLevelWindow("ConnectionsTestWindow", &sink_);
    ConnMgrRegisterForStatusChangeNotification(1, hwnd_);
    msg_ = RegisterWindowMessage(kConnMgrStatusMessage);
  }
  ~StatusWindow() { DestroyTopLevelWindow(hwnd_); }
  // Waits for a status message carrying `status`.
  bool Wait(DWORD status) {
    MessageQueueSink::Message m;
    while (sink_.Get(&m, 5000)) {
      if (m.msg == msg_ && m.wParam == status)
        return true;
    }
    return false;
  }

 private:
  MessageQueueSink sink_;
  HWND hwnd_ = 0;
  UINT msg_ = 0;
};

const DialUpEntry* Find(const std::vector<DialUpEntry>& entries, const std::string& name) {
  for (const auto& e : entries) {
    if (e.name == name)
      return &e;
  }
  return nullptr;
}

bool Connected(const std::string& name) {
  auto entries = ListDialUpEntries();
  const DialUpEntry* e = Find(entries, name);
  return e && e->handle != 0 && e->state == RASCS_Connected;
}

bool Enabled(const std::string& name) {
  auto entries = ListDialUpEntries();
  const DialUpEntry* e = Find(entries, name);
  return e && e->enabled;
}

// The idle notifications registered on the device, with their due times.
std::vector<CE_NOTIFICATION_TRIGGER> IdleNotifications() {
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 500);
  std::vector<CE_NOTIFICATION_TRIGGER> out;
  for (HNOTIFY h : handles) {
    CE_NOTIFICATION_TRIGGER t;
    if (CeGetUserNotification(h, &t) && t.lpszArguments == timernotification::kIdleArgument)
      out.push_back(t);
  }
  return out;
}

class ConnectionsMgrThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY key;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key);
    RegSetString(key, "mgr_config", "2222222222");
    RegCloseKey(key);
    CMgr::LoadConfig();
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
  }
  void TearDown() override {
    Clock::UseReal();
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  void Add(const std::string& name, bool enabled = true) {
    std::string error;
    ASSERT_TRUE(AddDialUpEntry(name, "", enabled, &error)) << error;
  }
  void ConnectFromPhone(const std::string& name) {
    std::string error;
    ASSERT_TRUE(ConnectDialUpEntry(name, &error)) << error;
  }
  void AddTraffic(const std::string& name, std::uint64_t bytes) {
    std::string error;
    ASSERT_TRUE(AddConnectionTraffic(name, bytes, &error)) << error;
  }
  CRegistrySettings& Settings() { return *CRegistrySettings::Instance(); }
  std::int64_t DueInMs(const CE_NOTIFICATION_TRIGGER& t) {
    return SystemTimeToMs(t.stStartTime) - Clock::LocalNowMs();
  }

  TestDevice dev;
};

TEST_F(ConnectionsMgrThreadTest, SingleEntryIsPreferredWhateverTheSettingSays) {
  Add("GPRS");
  Settings().SetString(CConnectionsMgr::kPreferredKey, "Elsewhere");
  CConnectionsMgr mgr;
  mgr.EnumEntries();
  auto entries = mgr.GetEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].IsPreferred());
  EXPECT_EQ(Settings().GetString(CConnectionsMgr::kPreferredKey), "GPRS");

  // With two entries the setting decides.
  Add("WAP");
  mgr.EnumEntries();
  entries = mgr.GetEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].IsPreferred());
  EXPECT_FALSE(entries[1].IsPreferred());

  mgr.SetPreferredByName("WAP");
  entries = mgr.GetEntries();
  EXPECT_FALSE(entries[0].IsPreferred());
  EXPECT_TRUE(entries[1].IsPreferred());
  EXPECT_EQ(Settings().GetString(CConnectionsMgr::kPreferredKey), "WAP");
}

TEST_F(ConnectionsMgrThreadTest, EntriesNeedAProviderKeyWithAnEnabledValueFoundDepthFirst) {
  Add("GPRS");
  Add("NoEnabled");
  Add("NoKey");
  HKEY noEnabled;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, FindProviderKey("NoEnabled"), &noEnabled),
            ERROR_SUCCESS);
  RegDeleteValue(noEnabled, "enabled");
  RegCloseKey(noEnabled);
  RegDeleteKey(HKEY_LOCAL_MACHINE, FindProviderKey("NoKey"));
  // An entry whose key sits deeper in another provider's tree is still found.
  Add("Deep");
  std::string old = FindProviderKey("Deep");
  RegDeleteKey(HKEY_LOCAL_MACHINE, old);
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Comm\\ConnMgr\\Providers\\Other\\Level\\Deep", &key),
      ERROR_SUCCESS);
  RegSetDWORD(key, "enabled", 0);
  RegSetDWORD(key, "AlwaysOn", 1);
  RegCloseKey(key);

  CConnectionsMgr mgr;
  mgr.EnumEntries();
  auto entries = mgr.GetEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].GetName(), "GPRS");
  EXPECT_EQ(entries[1].GetName(), "Deep");
  EXPECT_EQ(entries[1].GetKeyPath(), "\\Comm\\ConnMgr\\Providers\\Other\\Level\\Deep");
  EXPECT_FALSE(entries[1].IsEnabled());
  EXPECT_EQ(entries[1].GetAlwaysOn(), 1u);
}

TEST_F(ConnectionsMgrThreadTest, StatusFollowsEnabledAndConnectedEntriesWhileTheRadioIsOn) {
  Add("GPRS", false);
  Add("WAP", false);
  CConnectionsMgr mgr;
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_NONE_CONNECTED) << "the status starts at 1";
  mgr.EnumEntries();
  mgr.RefreshStatus(0);
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_NONE_ENABLED);
  mgr.SetEnabledAt(true, 1);
  mgr.RefreshStatus(0);
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_NONE_CONNECTED);
  EXPECT_TRUE(Enabled("WAP"));
  ConnectFromPhone("WAP");
  mgr.RefreshStatus(0);
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_CONNECTED);

  // With the radio off the entries are not read: nothing counts as connected.
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10);
  mgr.RefreshStatus(0);
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_NONE_CONNECTED);
}

TEST_F(ConnectionsMgrThreadTest, ConnectAllWithAPreferredEntryTouchesOnlyIt) {
  Add("GPRS", false);
  Add("WAP", false);
  Settings().SetString(CConnectionsMgr::kPreferredKey, "WAP");
  StatusWindow window;
  CConnectionsMgr mgr;
  mgr.EnumEntries();
  mgr.ConectarTodasConexiones(true);
  ASSERT_TRUE(window.Wait(CONNMGR_STATUS_CONNECTED));
  EXPECT_TRUE(Connected("WAP"));
  EXPECT_TRUE(Enabled("WAP")) << "a disabled entry is enabled before it connects";
  EXPECT_FALSE(Connected("GPRS"));
  EXPECT_FALSE(Enabled("GPRS"));

  // Without a preferred entry every entry is connected.
  mgr.ClearPreferred();
  mgr.ConectarTodasConexiones(true);
  ASSERT_TRUE(window.Wait(CONNMGR_STATUS_CONNECTED));
  EXPECT_TRUE(Connected("GPRS"));
  EXPECT_TRUE(Connected("WAP"));
}

TEST_F(ConnectionsMgrThreadTest, ForcingEachStatus) {
  Add("GPRS", false);
  Add("WAP", true);
  Settings().SetString(CConnectionsMgr::kPreferredKey, "");
  ConnectFromPhone("WAP");
  CConnectionsMgr mgr;
  mgr.EnumEntries();

  // 1: every entry enabled, none connected.
  mgr.ForceStatusChild(CConnectionsMgr::STATUS_NONE_CONNECTED, 0);
  EXPECT_TRUE(Enabled("GPRS"));
  EXPECT_TRUE(Enabled("WAP"));
  EXPECT_FALSE(Connected("GPRS"));
  EXPECT_FALSE(Connected("WAP"));
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_NONE_CONNECTED);

  // 2: the first entry connects when none is preferred.
  StatusWindow window;
  mgr.ForceStatusChild(CConnectionsMgr::STATUS_CONNECTED, 0);
  ASSERT_TRUE(window.Wait(CONNMGR_STATUS_CONNECTED));
  EXPECT_TRUE(Connected("GPRS"));
  EXPECT_FALSE(Connected("WAP"));

  // 0: everything hung up and disabled.
  mgr.ForceStatusChild(CConnectionsMgr::STATUS_NONE_ENABLED, 0);
  EXPECT_FALSE(Connected("GPRS"));
  EXPECT_FALSE(Enabled("GPRS"));
  EXPECT_FALSE(Enabled("WAP"));
  EXPECT_EQ(mgr.GetStatus(), CConnectionsMgr::STATUS_NONE_ENABLED);
}

TEST_F(ConnectionsMgrThreadTest, RequestsRunOnTheWorker) {
  Add("GPRS", false);
  Add("WAP", false);
  Settings().SetString(CConnectionsMgr::kPreferredKey, "WAP");
  StatusWindow window;
  CConnectionsMgr mgr;
  mgr.EnumEntries();
  mgr.PostCommand(CConnectionsMgr::CMD_CONNECT_PREFERRED, -1,
                  reinterpret_cast<std::intptr_t>(new StatusChangeRequest{1, 0}));
  ASSERT_TRUE(window.Wait(CONNMGR_STATUS_CONNECTED));
  EXPECT_TRUE(Connected("WAP"));
  EXPECT_FALSE(Enabled("GPRS"));

  mgr.ForceStatus(CConnectionsMgr::STATUS_NONE_ENABLED, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return !Connected("WAP") && !Enabled("WAP"); }));
  EXPECT_TRUE(WaitUntil([&] { return mgr.GetStatus() == CConnectionsMgr::STATUS_NONE_ENABLED; }));
}

TEST_F(ConnectionsMgrThreadTest, StatusMessagesHangUpDisabledEntriesAndStartIdleChecks) {
  Add("GPRS", false);
  Settings().SetDWORD(CConnectionsMgr::kActivateIdleKey, 1);
  Settings().SetDWORD(CConnectionsMgr::kSecondsIdleKey, 60);
  CConnectionsMgr mgr;
  mgr.EnumEntries();
  // The phone dials a disabled entry by itself: the program hangs it up.
  ConnectFromPhone("GPRS");
  mgr.NewEvent(CONNMGR_STATUS_CONNECTED);
  EXPECT_FALSE(Connected("GPRS"));
  EXPECT_EQ(mgr.GetEventCount(), 1);

  mgr.SetEnabledAt(true, 0);
  ConnectFromPhone("GPRS");
  mgr.NewEvent(CONNMGR_STATUS_CONNECTED);
  mgr.NewEvent(CONNMGR_STATUS_CONNECTED);
  EXPECT_TRUE(Connected("GPRS"));
  auto idle = IdleNotifications();
  ASSERT_EQ(idle.size(), 1u) << "a second status message replaces the pending idle check";
  EXPECT_NEAR(static_cast<double>(DueInMs(idle[0])), 20000.0, 2000.0);
  EXPECT_NE(mgr.GetIdleNotification(), 0u);

  // Idle closing switched off: the pending check goes.
  Settings().SetDWORD(CConnectionsMgr::kActivateIdleKey, 0);
  mgr.ReevaluateIdleNotification();
  EXPECT_TRUE(IdleNotifications().empty());
}

TEST_F(ConnectionsMgrThreadTest, IdleConnectionIsClosedOneFullPeriodAfterTrackingStarts) {
  Clock::UseVirtual(SystemTimeToMs({2024, 5, 0, 6, 10, 0, 0, 0}));
  Add("GPRS");
  Settings().SetDWORD(CConnectionsMgr::kActivateIdleKey, 1);
  Settings().SetDWORD(CConnectionsMgr::kSecondsIdleKey, 60);
  struct Observer : IConnectionsStatisticsObserver {
    int refreshes = 0;
    void RefreshStatistics() override { ++refreshes; }
  } observer;
  CConnectionsMgr mgr;
  mgr.AddStatisticsObserver(&observer);
  mgr.EnumEntries();
  ConnectFromPhone("GPRS");
  AddTraffic("GPRS", 300);
  mgr.NewEvent(CONNMGR_STATUS_CONNECTED);

  // The first notification only starts tracking.
  Clock::AdvanceVirtual(20000);
  mgr.ProcessIdleNotification();
  EXPECT_TRUE(mgr.IsIdleTracking());
  EXPECT_TRUE(Connected("GPRS"));
  EXPECT_EQ(mgr.GetTrafficChecks(), 1);
  auto idle = IdleNotifications();
  ASSERT_EQ(idle.size(), 1u);
  EXPECT_EQ(DueInMs(idle[0]), 60000);

  // An early notification is rescheduled for the rest of the period.
  Clock::AdvanceVirtual(45000);
  mgr.ProcessIdleNotification();
  EXPECT_TRUE(Connected("GPRS"));
  idle = IdleNotifications();
  ASSERT_EQ(idle.size(), 1u);
  EXPECT_EQ(DueInMs(idle[0]), 15000);

  // A full period with traffic keeps the connection and checks again a period later.
  AddTraffic("GPRS", 5000);
  Clock::AdvanceVirtual(15000);
  mgr.ProcessIdleNotification();
  EXPECT_TRUE(Connected("GPRS"));
  EXPECT_EQ(mgr.GetIdleCloses(), 0);
  idle = IdleNotifications();
  ASSERT_EQ(idle.size(), 1u);
  EXPECT_EQ(DueInMs(idle[0]), 60000);

  // A full period with no more than 1024 bytes closes it.
  AddTraffic("GPRS", 1024);
  Clock::AdvanceVirtual(60000);
  mgr.ProcessIdleNotification();
  EXPECT_FALSE(Connected("GPRS"));
  EXPECT_EQ(mgr.GetIdleCloses(), 1);
  EXPECT_FALSE(mgr.IsIdleTracking());
  EXPECT_EQ(SystemTimeToMs(mgr.GetLastClose()), Clock::LocalNowMs());
  EXPECT_EQ(mgr.GetTrafficChecks(), 3);
  EXPECT_EQ(observer.refreshes, 4) << "observers hear of every idle check";
  mgr.RemoveStatisticsObserver(&observer);
}

TEST_F(ConnectionsMgrThreadTest, IdleNotificationWithoutAnActiveConnectionDoesNothing) {
  Add("GPRS");
  Settings().SetDWORD(CConnectionsMgr::kActivateIdleKey, 1);
  CConnectionsMgr mgr;
  mgr.EnumEntries();
  mgr.ProcessIdleNotification();
  EXPECT_FALSE(mgr.IsIdleTracking());
  EXPECT_EQ(mgr.GetTrafficChecks(), 0);
  EXPECT_TRUE(IdleNotifications().empty());
}

TEST_F(ConnectionsMgrThreadTest, TrafficChecksNeedABaselineFromALiveLink) {
  Add("GPRS");
  ConnectFromPhone("GPRS");
  CRasConnection entry("GPRS", FindProviderKey("GPRS"));
  entry.ReadConnectionState();
  ASSERT_TRUE(entry.IsActive());
  // A link that starts at zero bytes gives a real baseline.
  ASSERT_TRUE(entry.RefreshDataTraffic());
  EXPECT_FALSE(entry.HaHabidoTrafico()) << "the first check has nothing to compare with";
  AddTraffic("GPRS", 2000);
  entry.RefreshDataTraffic();
  EXPECT_TRUE(entry.HaHabidoTrafico());

  // After a hang-up the first check reports no traffic, whatever the counters say.
  entry.HangUp();
  EXPECT_FALSE(Connected("GPRS"));
  ConnectFromPhone("GPRS");
  entry.ReadConnectionState();
  AddTraffic("GPRS", 50000);
  entry.RefreshDataTraffic();
  EXPECT_FALSE(entry.HaHabidoTrafico());
  AddTraffic("GPRS", 50000);
  entry.RefreshDataTraffic();
  EXPECT_TRUE(entry.HaHabidoTrafico());

  // A failed read also starts again from nothing.
  std::string error;
  ASSERT_TRUE(DropConnection("GPRS", &error)) << error;
  EXPECT_FALSE(entry.RefreshDataTraffic());
  EXPECT_EQ(entry.GetBytesNow(), 0u);
  EXPECT_EQ(entry.GetBytesBefore(), CRasConnection::kUnknownBytes);
}

TEST_F(ConnectionsMgrThreadTest, TimeLimitReturnsToTheStatusItCarries) {
  Add("GPRS", false);
  CConnectionsMgr mgr;
  mgr.EnumEntries();
  StatusWindow window;
  mgr.ProcessTimerNotification(CConnectionsMgr::STATUS_CONNECTED);
  ASSERT_TRUE(window.Wait(CONNMGR_STATUS_CONNECTED));
  EXPECT_TRUE(Connected("GPRS"));
  // The main window hands the connection manager's message on.
  mgr.NewEvent(CONNMGR_STATUS_CONNECTED);
  mgr.ProcessTimerNotification(CConnectionsMgr::STATUS_NONE_ENABLED);
  EXPECT_FALSE(Connected("GPRS"));
  EXPECT_FALSE(Enabled("GPRS"));
}

class FakePhone : public CMgr {
 public:
  FakePhone() : CMgr(MGR_ID_PHONE) {}
  ~FakePhone() override { Stop(); }
  void Initialize() override {}
  void RefreshStatusChild(int) override {}
  void ForceStatusChild(int, int) override {}
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int, int) override {}
};

TEST_F(ConnectionsMgrThreadTest, PhoneRadioChangeReappliesThePlaceActions) {
  Add("GPRS");
  FakePhone phone;
  CConnectionsMgr mgr;
  mgr.Initialize();
  int asked = 0;
  mgr.SetPlaceActionsSource([&](int mgrId) {
    ++asked;
    EXPECT_EQ(mgrId, MGR_ID_CONNECTIONS);
    return std::vector<int>{CConnectionsMgr::STATUS_NONE_ENABLED};
  });
  // A plain refresh of the phone manager is not a radio change.
  phone.FireStatusChanged(CMgr::REASON_REFRESH);
  EXPECT_EQ(asked, 0);
  phone.FireStatusChanged(0);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(WaitUntil([] { return !Enabled("GPRS"); }));
}

}  // namespace

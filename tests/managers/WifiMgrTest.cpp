// The Wi-Fi managers: the state value and device power of the base class, and the device-list
// manager the application uses.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/SystemStateBroker.h"
#include "managers/RadioTestSupport.h"
#include "managers/WifiMgr.h"
#include "managers/WifiOssVcsMgr.h"
#include "platform/Mosutil.h"
#include "platform/WirelessDevices.h"

using namespace platform;
using radiotest::WaitUntil;

namespace {

class WifiMgrThreadTest : public radiotest::RadioFixture {
 protected:
  static void SetWifiValue(DWORD value) {
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", value);
  }
  std::size_t RadioChanges() { return dev.device().Activities("radio").size(); }
};

TEST_F(WifiMgrThreadTest, StateValueAboveFiveIsOn) {
  CWifiMgr wifi;
  EXPECT_EQ(wifi.GetStatus(), STATUS_DISABLED);
  SetWifiValue(5);
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_OFF);
  SetWifiValue(6);
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", &key), ERROR_SUCCESS);
  RegDeleteValue(key, "Wifi");
  RegCloseKey(key);
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), STATUS_DISABLED);
}

TEST_F(WifiMgrThreadTest, DevicePowerSwitchesTheAdapterFoundUnderThePowerKey) {
  CWifiMgr wifi;
  wifi.Initialize();
  EXPECT_EQ(wifi.GetDeviceName(), std::string(kNetworkAdapterClass) + "\\WLAN1");
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);

  wifi.ForceStatus(WIFI_STATUS_OFF, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return wifi.GetStatus() == WIFI_STATUS_OFF; }));
  EXPECT_EQ(GetWifiStateName(), "off");
  DWORD power = 99;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, kPowerStateKey, wifi.GetDeviceName(), &power);
  EXPECT_EQ(power, static_cast<DWORD>(POWER_D4));

  // Without an adapter the switch fails: reported, and shown as -1 until the next refresh.
  SetWifiStateByName("absent");
  wifi.ForceStatusChild(WIFI_STATUS_ON, 0);
  EXPECT_EQ(wifi.GetStatus(), STATUS_DISABLED);
  auto boxes = ListBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error swapping wifi");
}

TEST_F(WifiMgrThreadTest, NoAdapterUnderThePowerKeyDisablesTheManager) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kPowerStateKey, &key), ERROR_SUCCESS);
  RegDeleteValue(key, std::string(kNetworkAdapterClass) + "\\WLAN1");
  RegSetDWORD(key, "{00000000-0000-0000-0000-000000000000}\\GPS1", 0);
  RegCloseKey(key);
  CWifiMgr wifi;
  wifi.FindDeviceName();
  EXPECT_EQ(wifi.GetDeviceName(), "");
  EXPECT_EQ(wifi.GetStatus(), STATUS_DISABLED);
}

TEST_F(WifiMgrThreadTest, TimedNotificationRestoresTheStatusItCarries) {
  CWifiOssVcsMgr wifi;
  wifi.Initialize();
  ASSERT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);
  EXPECT_EQ(CWifiMgr::GetInstance(), &wifi);

  // The limit returns to the status it carries, also when the status shown is stale (a toggle
  // would leave the radio on here) or not known.
  wifi.SetStatusValue(WIFI_STATUS_OFF);
  wifi.DispatchTimerNotification(MGR_ID_WIFI, WIFI_STATUS_OFF);
  ASSERT_TRUE(WaitUntil([&] { return GetWifiStateName() == "off"; }));
  ASSERT_TRUE(WaitUntil([&] { return wifi.GetStatus() == WIFI_STATUS_OFF; }));
  wifi.SetStatusValue(STATUS_DISABLED);
  wifi.DispatchTimerNotification(MGR_ID_WIFI, WIFI_STATUS_ON);
  ASSERT_TRUE(WaitUntil([&] { return wifi.GetStatus() == WIFI_STATUS_ON; }));
  EXPECT_EQ(GetWifiStateName(), "on");
  // A parameter that is no status toggles.
  wifi.DispatchTimerNotification(MGR_ID_WIFI, 7);
  ASSERT_TRUE(WaitUntil([&] { return wifi.GetStatus() == WIFI_STATUS_OFF; }));
  EXPECT_EQ(wifi.GetStatusName(STATUS_DISABLED),
            CTexts::GetInstance()->GetText("EVENT_LOG_MGR_WIFI_STATUS_OFF"));
}

TEST_F(WifiMgrThreadTest, EveryWifiRecordIsSwitchedAndTheLastListedWinsOnRefresh) {
  SetWifiAdapterStates({WIRELESS_STATE_OFF, WIRELESS_STATE_OFF});
  CWifiOssVcsMgr wifi;
  wifi.Initialize();
  ASSERT_EQ(wifi.GetStatus(), WIFI_STATUS_OFF);

  wifi.ForceStatus(WIFI_STATUS_ON, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return wifi.GetStatus() == WIFI_STATUS_ON; }));
  EXPECT_EQ(GetWifiAdapterStates(), (std::vector<DWORD>{WIRELESS_STATE_ON, WIRELESS_STATE_ON}));
  EXPECT_EQ(RadioChanges(), 2u);

  SetWifiAdapterStates({WIRELESS_STATE_ON, WIRELESS_STATE_OFF});
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_OFF);
  SetWifiAdapterStates({WIRELESS_STATE_OFF, WIRELESS_STATE_ON});
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);

  // No Wi-Fi record at all reads as off; a list that cannot be read keeps the status.
  SetWifiAdapterStates({});
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_OFF);
  SetWifiAdapterStates({WIRELESS_STATE_ON});
  FailNextWirelessListReads(1);
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_OFF);
  wifi.RefreshStatus(0);
  EXPECT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);

  int w = -5, phone = -5, bt = -5;
  ASSERT_EQ(wifi.GetDeviceStates(&w, &phone, &bt), 0);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(phone, 1);
  EXPECT_EQ(bt, 0);
}

TEST_F(WifiMgrThreadTest, WithoutTheServiceTheManagerStaysDisabledAndSwitchesNothing) {
  dev.device().SetState(kWirelessServiceState, "absent");
  CWifiOssVcsMgr wifi;
  wifi.Initialize();
  EXPECT_EQ(wifi.GetStatus(), STATUS_DISABLED);
  EXPECT_FALSE(CWifiOssVcsMgr::IsServiceBound());
  wifi.RefreshStatus(1);
  EXPECT_EQ(wifi.GetStatus(), STATUS_DISABLED);
  wifi.ForceStatusChild(WIFI_STATUS_OFF, 0);
  EXPECT_EQ(GetWifiStateName(), "on");
  EXPECT_EQ(RadioChanges(), 0u);
}

TEST_F(WifiMgrThreadTest, ChangesMadeOnThePhoneReachTheManagerThroughTheBroker) {
  CSystemStateBroker broker;
  CWifiOssVcsMgr wifi;
  wifi.Initialize();
  ASSERT_NE(wifi.GetWifiWatch(), 0u);
  ASSERT_EQ(wifi.GetStatus(), WIFI_STATUS_ON);
  ASSERT_EQ(dev.Console({"wifi", "off"}), 0);
  ASSERT_TRUE(WaitUntil([&] { return wifi.GetStatus() == WIFI_STATUS_OFF; }, 10000));
}

TEST_F(WifiMgrThreadTest, DestroyedWhileTheBrokerDispatches) {
  CSystemStateBroker broker;
  std::atomic<bool> done{false};
  // The phone keeps switching the radio while managers come and go.
  std::thread phone([&] {
    for (int v = 0; !done.load(); ++v) {
      SetWifiStateByName(v % 2 ? "on" : "off");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  auto observed = [] {
    int n = 0;
    for (const auto& r : CEventLog::GetInstance()->GetRecords())
      n += r.code == MGR_ID_WIFI && r.level == 1;
    return n;
  };
  for (int i = 0; i < 3; ++i) {
    auto wifi = std::make_unique<CWifiOssVcsMgr>();
    wifi->Initialize();
    int before = observed();
    // The broker is delivering changes to this manager when it goes away.
    EXPECT_TRUE(WaitUntil([&] { return observed() > before + 2; }, 10000));
    wifi.reset();
    EXPECT_EQ(CWifiMgr::GetInstance(), nullptr);
  }
  done.store(true);
  phone.join();
}

}  // namespace

// The managers and the schedule engine, unchanged, on the Linux backend with mock services on a
// private bus: what they show and do is what they show and do on the simulated phone.
#include <gtest/gtest.h>

#include "app/RegistrySettings.h"
#include "app/SystemStateBroker.h"
#include "data/StrLAC.h"
#include "data/TableActions.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "location/LocationTestSupport.h"
#include "location/RilMgr.h"
#include "location/ScheduleEngine.h"
#include "managers/BTMgr.h"
#include "managers/MessageMgr.h"
#include "managers/MobilePhoneMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/Backend.h"
#include "platform/Bluetooth.h"
#include "platform/PhoneHardware.h"
#include "platform/linux/Bridge.h"
#include "platform/linux/SystemBus.h"
#include "platform_linux/MockBus.h"

using namespace platform;
using linuxtest::MockService;
using testsupport::WaitUntil;

namespace {

constexpr const char* kModemMock = "org.freedesktop.ModemManager1.Mock";
constexpr const char* kModemPath = "/org/freedesktop/ModemManager1/Modem/0";

void AddModem(MockService& mm) {
  mm.Object(linuxphone::kMMPath)
      ->callMethod("AddModem")
      .onInterface(kModemMock)
      .withArguments(std::string());
}

class LinuxManagersTest : public radiotest::RadioFixture {
 protected:
  void SetUp() override {
    RadioFixture::SetUp();
    ASSERT_TRUE(linuxtest::StartPrivateSystemBus());
    ASSERT_EQ(dev.Console({"install", "--backend", "linux"}), 0);
    CTexts::ResetForTesting();
    bridge = std::make_unique<linuxphone::Bridge>();
    ASSERT_TRUE(bridge->Start());
  }
  void TearDown() override {
    bridge.reset();
    RadioFixture::TearDown();
  }
  std::unique_ptr<linuxphone::Bridge> bridge;
};

TEST_F(LinuxManagersTest, BluetoothManagerOnBlueZ) {
  MockService bluez(linuxphone::kBluezService, "bluez5");
  ASSERT_TRUE(bluez.Running());
  radiotest::TestApp app;
  CBTMgr bt;
  bt.SetReadRetryPauseMs(1);
  // No adapter: the feature is unavailable, as on a phone without Bluetooth.
  ASSERT_TRUE(
      WaitUntil([] { return Device::Current()->GetState(kBluetoothModeState) == "absent"; }));
  bt.RefreshStatus(0);
  EXPECT_EQ(bt.GetStatus(), STATUS_DISABLED);

  std::string adapterPath;
  bluez.Object("/")
      ->callMethod("AddAdapter")
      .onInterface("org.bluez.Mock")
      .withArguments(std::string("hci0"), std::string("phone"))
      .storeResultsTo(adapterPath);
  ASSERT_TRUE(WaitUntil([&] {
    bt.RefreshStatus(0);
    return bt.GetStatus() == BT_STATUS_CONNECTABLE;
  }));
  bt.ForceStatus(BT_STATUS_DISCOVERABLE, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_DISCOVERABLE; }));
  EXPECT_TRUE(bluez.Object(adapterPath)
                  ->getProperty("Discoverable")
                  .onInterface(linuxphone::kBluezAdapter)
                  .get<bool>());
  bt.ForceStatus(BT_STATUS_OFF, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return bt.GetStatus() == BT_STATUS_OFF; }));
  EXPECT_FALSE(bluez.Object(adapterPath)
                   ->getProperty("Powered")
                   .onInterface(linuxphone::kBluezAdapter)
                   .get<bool>());
}

TEST_F(LinuxManagersTest, PhoneManagerSwitchesTheModem) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  CMobilePhoneMgr phone;
  phone.Initialize();
  // No modem: the feature is unavailable.
  ASSERT_TRUE(
      WaitUntil([] { return Device::Current()->GetState(phone::kRadioState) == "absent"; }));
  phone.RefreshStatus(1);
  EXPECT_EQ(phone.GetStatus(), STATUS_DISABLED);

  AddModem(mm);
  ASSERT_TRUE(WaitUntil([&] {
    phone.RefreshStatus(0);
    return phone.GetStatus() == PHONE_STATUS_OFF;
  }));
  // Through the manager's own radio sequence: equipment state full, then registration.
  phone.ForceStatus(PHONE_STATUS_ON, 0, 0, 0);
  ASSERT_TRUE(phone.StatusEvent().Wait(10000));
  phone.RefreshStatus(0);
  EXPECT_EQ(phone.GetStatus(), PHONE_STATUS_ON);
  EXPECT_EQ(mm.Object(kModemPath)
                ->getProperty("State")
                .onInterface(linuxphone::kMMModem)
                .get<std::int32_t>(),
            8);
  EXPECT_EQ(Device::Current()->GetState(phone::kNetworkState), "registered");
}

// The schedule engine enters a place when the modem reports its area.
class LinuxScheduleTest : public locationtest::LocationFixture {
 protected:
  void SetUp() override {
    LocationFixture::SetUp();
    ASSERT_TRUE(linuxtest::StartPrivateSystemBus());
    ASSERT_TRUE(backend::Select(backend::Kind::kLinux));
    // Monday 7 January 2030, 10:00.
    SYSTEMTIME now{2030, 1, 0, 7, 10, 0, 0, 0};
    Clock::UseVirtual(SystemTimeToMs(now));
  }
  void TearDown() override {
    CScheduleEngine::DestroyInstance();
    ril.reset();
    bridge.reset();
    LocationFixture::TearDown();
  }
  std::vector<std::string> Entered() {
    std::vector<std::string> out;
    for (const auto& e : locationtest::LogEntries(CScheduleEngine::kEventLogCode)) {
      if (e.summary.rfind("Entering ", 0) == 0)
        out.push_back(e.summary.substr(9, e.summary.find(" (") - 9));
    }
    return out;
  }
  std::unique_ptr<linuxphone::Bridge> bridge;
  std::unique_ptr<CRilMgr> ril;
};

TEST_F(LinuxScheduleTest, PlaceIsEnteredFromTheModemsLocation) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm);
  bridge = std::make_unique<linuxphone::Bridge>();
  ASSERT_TRUE(bridge->Start());
  ASSERT_TRUE(phone::SetRadioPower(true));

  CStrPlace office("Office", "", "", -1);
  db->GetTablePlaces()->Insert(office);
  CStrLAC area(0x1A2B, office.GetId());
  db->GetTableLAC()->Insert(area);
  CStrPeriod work;
  work.SetIdPlace(office.GetId());
  work.SetName("Work");
  work.SetStart(8, 0);
  work.SetEnd(18, 0);
  db->GetTablePeriods()->Insert(work);
  // Entering the frame sends a text message through the messaging manager.
  CMessageMgr messages;
  CStrAction sms;
  sms.SetIdPeriod(work.GetId());
  sms.SetMgrId(CScheduleEngine::ACTION_SMS);
  sms.SetType(CStrAction::TYPE_ENTER);
  sms.SetSzOp1("+34600111222");
  sms.SetSzOp3("At the office");
  db->GetTableActions()->Insert(sms);

  ril = std::make_unique<CRilMgr>();
  CScheduleEngine* engine = CScheduleEngine::Instance();
  engine->SetRecheckWaits(50, 50);
  ril->Initialize();
  ASSERT_TRUE(locationtest::WaitFor([&] { return ril->GetLocationResultCount() >= 1; }));

  mm.Object(linuxphone::kMMPath)
      ->callMethod("SetCell")
      .onInterface(kModemMock)
      .withArguments(std::uint32_t{0x1A2B}, std::uint32_t{0x3C4D5});
  ASSERT_TRUE(locationtest::WaitFor([&] {
    auto entered = Entered();
    return !entered.empty() && entered.back() == "Office, Work";
  }));
  ASSERT_TRUE(locationtest::WaitFor(
      [] { return CRegistrySettings::Instance()->GetString("current_place") == "Office"; }));
  // The modem was asked to create and send it.
  using CallLog = std::vector<sdbus::Struct<std::uint64_t, std::vector<sdbus::Variant>>>;
  CallLog created;
  ASSERT_TRUE(locationtest::WaitFor([&] {
    mm.Object(kModemPath)
        ->callMethod("GetMethodCalls")
        .onInterface("org.freedesktop.DBus.Mock")
        .withArguments(std::string("Create"))
        .storeResultsTo(created);
    return !created.empty();
  }));
  auto properties = created[0].get<1>()[0].get<std::map<std::string, sdbus::Variant>>();
  EXPECT_EQ(properties["number"].get<std::string>(), "+34600111222");
  EXPECT_EQ(properties["text"].get<std::string>(), "At the office");
  CScheduleEngine::DestroyInstance();
}

}  // namespace

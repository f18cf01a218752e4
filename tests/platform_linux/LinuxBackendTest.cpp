// The Linux backend against mock services on a private system bus: each service's read and
// switch through the same platform calls the managers make, a vanishing service, and the
// backend's choice per device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Backend.h"
#include "platform/Backlight.h"
#include "platform/Bluetooth.h"
#include "platform/ConnMgr.h"
#include "platform/Diagnostics.h"
#include "platform/Messaging.h"
#include "platform/PhoneHardware.h"
#include "platform/Power.h"
#include "platform/PowerStatus.h"
#include "platform/Ras.h"
#include "platform/Registry.h"
#include "platform/Ril.h"
#include "platform/SimManager.h"
#include "platform/Sound.h"
#include "platform/Telephony.h"
#include "platform/WirelessDevices.h"
#include "platform/linux/Bridge.h"
#include "platform/linux/LinuxPhone.h"
#include "platform/linux/SystemBus.h"
#include "platform_linux/MockBus.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;
using linuxtest::MockService;
using testsupport::WaitUntil;

namespace {

constexpr const char* kModemPath = "/org/freedesktop/ModemManager1/Modem/0";
constexpr const char* kModemMock = "org.freedesktop.ModemManager1.Mock";
constexpr const char* kDbusMock = "org.freedesktop.DBus.Mock";

using CallLog = std::vector<sdbus::Struct<std::uint64_t, std::vector<sdbus::Variant>>>;

// The arguments of every call of `method` the mock object at `path` received.
std::vector<std::vector<sdbus::Variant>> Calls(MockService& mock, const std::string& path,
                                               const std::string& method) {
  CallLog log;
  mock.Object(path)
      ->callMethod("GetMethodCalls")
      .onInterface(kDbusMock)
      .withArguments(method)
      .storeResultsTo(log);
  std::vector<std::vector<sdbus::Variant>> calls;
  for (const auto& entry : log)
    calls.push_back(entry.get<1>());
  return calls;
}

class LinuxBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(linuxtest::StartPrivateSystemBus());
    // What the services refused shows in the test's output.
    SetDiagnosticSink([](const char* line) { std::fprintf(stderr, "%s\n", line); });
    ASSERT_TRUE(backend::Select(backend::Kind::kLinux));
  }
  void TearDown() override {
    bridge_.reset();
    SetDiagnosticSink(nullptr);
  }

  void StartBridge() {
    bridge_ = std::make_unique<linuxphone::Bridge>();
    ASSERT_TRUE(bridge_->Start());
  }
  void AddModem(MockService& mm, const std::string& pin = "") {
    mm.Object(linuxphone::kMMPath)
        ->callMethod("AddModem")
        .onInterface(kModemMock)
        .withArguments(pin);
  }
  std::string State(const char* name) { return dev_.device().GetState(name).value_or(""); }
  static bool StatusPresent() {
    DWORD status = 0;
    return RegistryGetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, phone::kStatusValue, &status) ==
           S_OK;
  }

  TestDevice dev_;
  std::unique_ptr<linuxphone::Bridge> bridge_;
};

// Records the location notifications of a RIL client.
class LocationListener {
 public:
  LocationListener() {
    RIL_Initialize(
        1, [](DWORD, HRESULT, const void*, std::size_t, DWORD) {},
        [this](DWORD code, const void* data, std::size_t size, DWORD) {
          if (code != RIL_NOTIFY_LOCATIONUPDATE || size < sizeof(RILLOCATIONINFO))
            return;
          std::lock_guard lock(mutex_);
          seen_.push_back(*static_cast<const RILLOCATIONINFO*>(data));
        },
        RIL_NCLASS_NETWORK, 0, &handle_);
  }
  ~LocationListener() { RIL_Deinitialize(handle_); }
  std::optional<RILLOCATIONINFO> Last() {
    std::lock_guard lock(mutex_);
    return seen_.empty() ? std::nullopt : std::optional(seen_.back());
  }

 private:
  HRIL handle_ = 0;
  std::mutex mutex_;
  std::vector<RILLOCATIONINFO> seen_;
};

TEST(LinuxBackendParseTest, LacCiLocationStrings) {
  auto cell = linuxphone::ParseLacCi("214,07,1A2B,3C4D5,0");
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->lac, 0x1A2Bu);
  EXPECT_EQ(cell->cellId, 0x3C4D5u);
  EXPECT_TRUE(linuxphone::ParseLacCi("214,07,1a2b,ff"));  // older modems omit the TAC
  EXPECT_FALSE(linuxphone::ParseLacCi("214,07,1A2B"));
  EXPECT_FALSE(linuxphone::ParseLacCi("214,07,,3C4D"));
  EXPECT_FALSE(linuxphone::ParseLacCi("214,07,XYZ,3C4D"));
  EXPECT_FALSE(linuxphone::ParseLacCi("214,07,1A2B,123456789"));
  EXPECT_EQ(linuxphone::PercentToDbm(0), ril::kDefaultSignalMin);
  EXPECT_EQ(linuxphone::PercentToDbm(100), ril::kDefaultSignalMax);
  EXPECT_EQ(linuxphone::PercentToDbm(250), ril::kDefaultSignalMax);
}

TEST(LinuxBackendChoiceTest, InstallChoosesTheBackendAndStateShowsIt) {
  TestDevice dev;
  EXPECT_EQ(backend::Current(), backend::Kind::kSimulated);
  std::string out;
  std::string err;
  ASSERT_EQ(dev.Console({"state"}, &out), 0);
  EXPECT_NE(out.find("backend:       simulated"), std::string::npos) << out;
  EXPECT_NE(dev.Console({"install", "--backend", "android"}, &out, &err), 0);
  EXPECT_EQ(backend::Current(), backend::Kind::kSimulated);
  ASSERT_EQ(dev.Console({"install", "--backend", "linux"}, &out, &err), 0) << err;
  EXPECT_EQ(backend::Current(), backend::Kind::kLinux);
  ASSERT_EQ(dev.Console({"state", "--json"}, &out), 0);
  EXPECT_NE(out.find("\"backend\":\"linux\""), std::string::npos) << out;
  // Installing again without the option keeps the choice.
  ASSERT_EQ(dev.Console({"install"}, &out, &err), 0) << err;
  EXPECT_EQ(backend::Current(), backend::Kind::kLinux);
}

// The runner and the program become the user's services on a real phone only; the units name
// this device folder and these executables.
TEST(LinuxBackendChoiceTest, InstallWritesTheUserServicesOnlyForTheLinuxBackend) {
  TestDevice dev;
  const std::filesystem::path units = dev.folder() / "xdg-config" / "systemd" / "user";
  std::string out;
  std::string err;
  ASSERT_EQ(dev.Console({"install", "--backend", "simulated"}, &out, &err), 0) << err;
  EXPECT_FALSE(std::filesystem::exists(units));
  ASSERT_EQ(dev.Console({"install", "--backend", "linux"}, &out, &err), 0) << err;
  auto read = [](const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  const std::string runner = read(units / "telvane-runner.service");
  const std::string program = read(units / "telvane.service");
  const std::string device = "Environment=\"TELVANE_DEVICE=" + dev.folder().string() + "\"\n";
  EXPECT_NE(runner.find("ExecStart=\"" TELVANE_DEVICE_TOOL "\" serve\n"), std::string::npos)
      << runner;
  EXPECT_NE(runner.find(device), std::string::npos) << runner;
  const auto telvane =
      std::filesystem::path(TELVANE_DEVICE_TOOL).parent_path().parent_path() / "ui" / "telvane";
  EXPECT_NE(program.find("ExecStart=\"" + telvane.string() + "\"\n"), std::string::npos) << program;
  EXPECT_NE(program.find(device), std::string::npos) << program;
  EXPECT_EQ(program.find('@'), std::string::npos) << program;
  EXPECT_EQ(runner.find('@'), std::string::npos) << runner;
  // systemd itself accepts both units, where the machine has its analyser (which also wants the
  // program they start to be there).
  if (std::filesystem::exists("/usr/bin/systemd-analyze") && std::filesystem::exists(telvane)) {
    const std::string command = "/usr/bin/systemd-analyze verify --man=no '" +
                                (units / "telvane-runner.service").string() + "' '" +
                                (units / "telvane.service").string() + "' 2>&1";
    std::string said;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe))
      said += chunk;
    EXPECT_EQ(pclose(pipe), 0) << said;
    EXPECT_EQ(said, "");
  }

  // Back on the simulated phone the units go, but only those of this device folder.
  const std::string other = runner.substr(0, runner.find(device)) +
                            "Environment=\"TELVANE_DEVICE=/elsewhere\"\n" +
                            runner.substr(runner.find(device) + device.size());
  ASSERT_EQ(dev.Console({"install", "--backend", "simulated"}, &out, &err), 0) << err;
  EXPECT_FALSE(std::filesystem::exists(units / "telvane-runner.service")) << out;
  EXPECT_FALSE(std::filesystem::exists(units / "telvane.service")) << out;
  std::ofstream(units / "telvane-runner.service") << other;
  ASSERT_EQ(dev.Console({"install", "--backend", "simulated"}, &out, &err), 0) << err;
  EXPECT_EQ(read(units / "telvane-runner.service"), other);
}

TEST_F(LinuxBackendTest, ModemRadioBandCellAndSignal) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm);
  StartBridge();
  ASSERT_TRUE(WaitUntil([&] { return State(phone::kRadioState) == "off" && !phone::RadioIsOn(); }));
  LocationListener listener;

  // The radio comes up under the band chosen in the registry: 2G only.
  ASSERT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, phone::kBandKey, phone::kBandValue, 1), S_OK);
  ASSERT_TRUE(phone::SetRadioPower(true));
  EXPECT_TRUE(phone::RadioIsOn());
  EXPECT_EQ(State(phone::kRadioModeState), "2g");
  EXPECT_EQ(State(phone::kNetworkState), "registered");
  auto modes = Calls(mm, kModemPath, "SetCurrentModes");
  ASSERT_EQ(modes.size(), 1u);
  EXPECT_EQ((modes[0][0].get<sdbus::Struct<std::uint32_t, std::uint32_t>>().get<0>()),
            linuxphone::kMode2G);
  // The 3GPP location source is on, with location signals.
  auto location = mm.Object(kModemPath);
  EXPECT_TRUE(
      location->getProperty("SignalsLocation").onInterface(linuxphone::kMMLocation).get<bool>());

  mm.Object(linuxphone::kMMPath)
      ->callMethod("SetCell")
      .onInterface(kModemMock)
      .withArguments(std::uint32_t{0x1A2B}, std::uint32_t{0x3C4D5});
  ASSERT_TRUE(WaitUntil([&] {
    auto last = listener.Last();
    return last && last->dwLocationAreaCode == 0x1A2B && last->dwCellID == 0x3C4D5;
  }));
  EXPECT_EQ(ril::GetServingCell().cellId, 0x3C4D5u);

  mm.Object(linuxphone::kMMPath)
      ->callMethod("SetSignal")
      .onInterface(kModemMock)
      .withArguments(std::uint32_t{50});
  ASSERT_TRUE(WaitUntil([] { return ril::GetSignal().strength == linuxphone::PercentToDbm(50); }));
  DWORD percent = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, "Signal Strength", &percent);
  EXPECT_EQ(percent, 50u);

  // Automatic again: the widest combination the modem offers, and the radio goes off.
  ASSERT_TRUE(phone::SetRadioPower(false));
  EXPECT_FALSE(phone::RadioIsOn());
  EXPECT_EQ(State(phone::kRadioState), "off");
  ASSERT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, phone::kBandKey, phone::kBandValue, 0), S_OK);
  ASSERT_TRUE(phone::SetRadioPower(true));
  EXPECT_EQ(State(phone::kRadioModeState), "auto");
  modes = Calls(mm, kModemPath, "SetCurrentModes");
  ASSERT_EQ(modes.size(), 2u);
  auto widest = modes[1][0].get<sdbus::Struct<std::uint32_t, std::uint32_t>>();
  EXPECT_EQ(widest.get<0>(), 2u | 4u | 8u);
  EXPECT_EQ(widest.get<1>(), 0u);
}

TEST_F(LinuxBackendTest, CallsInProgressFollowTheModemsVoiceCalls) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm);
  StartBridge();
  auto setCalls = [&](std::vector<sdbus::ObjectPath> calls) {
    mm.Object(kModemPath)
        ->callMethod("UpdateProperties")
        .onInterface(kDbusMock)
        .withArguments(std::string("org.freedesktop.ModemManager1.Modem.Voice"),
                       std::map<std::string, sdbus::Variant>{{"Calls", sdbus::Variant(calls)}});
  };
  setCalls({sdbus::ObjectPath("/org/freedesktop/ModemManager1/Call/0")});
  ASSERT_TRUE(WaitUntil([] { return phone::ActiveCalls() == 1; }));
  // The registry's count is published right after the phone's own state.
  DWORD count = 0;
  EXPECT_TRUE(WaitUntil([&] {
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, phone::kActiveCallCountValue, &count);
    return count == 1u;
  })) << count;
  setCalls({});
  ASSERT_TRUE(WaitUntil([] { return phone::ActiveCalls() == 0; }));
}

TEST_F(LinuxBackendTest, SimPinGoesToTheModemsSim) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm, "4321");
  linuxphone::SyncModem();
  EXPECT_EQ(phone::SimState(), "pin");
  EXPECT_EQ(phone::UnlockSimWithPin("12"), SIM_E_INCORRECTPASSWORD);
  EXPECT_TRUE(Calls(mm, "/org/freedesktop/ModemManager1/SIM/0", "SendPin").empty())
      << "a PIN of the wrong form must not cost an attempt";
  EXPECT_EQ(phone::UnlockSimWithPin("0000"), SIM_E_INCORRECTPASSWORD);
  EXPECT_EQ(phone::SimState(), "pin");
  EXPECT_EQ(phone::UnlockSimWithPin("4321"), S_OK);
  EXPECT_EQ(phone::SimState(), "ready");
  // Unlocked, the modem comes up and registers, as the simulated phone does.
  EXPECT_TRUE(phone::RadioIsOn());
  EXPECT_EQ(State(phone::kNetworkState), "registered");
}

TEST_F(LinuxBackendTest, SimBlocksAfterThreeWrongPins) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm, "4321");
  linuxphone::SyncModem();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(phone::UnlockSimWithPin("0000"), SIM_E_INCORRECTPASSWORD);
  EXPECT_EQ(phone::SimState(), "puk");
  EXPECT_EQ(phone::UnlockSimWithPin("4321"), SIM_E_SIMBLOCKED);
}

TEST_F(LinuxBackendTest, CallForwardingThroughUssd) {
  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm);
  // Not registered yet: the network cannot be asked.
  linuxphone::SyncModem();
  EXPECT_EQ(phone::SetCallForward("600123456"), LINEERR_OPERATIONFAILED);
  ASSERT_TRUE(phone::SetRadioPower(true));
  EXPECT_EQ(phone::SetCallForward("600123456"), 0);
  EXPECT_EQ(phone::CallForward(), "600123456");
  auto calls = Calls(mm, kModemPath, "Initiate");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][0].get<std::string>(), "**21*600123456#");
  mm.Object(linuxphone::kMMPath)
      ->callMethod("RefuseUssd")
      .onInterface(kModemMock)
      .withArguments(true);
  EXPECT_EQ(phone::SetCallForward(""), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(phone::CallForward(), "600123456");
}

TEST_F(LinuxBackendTest, VanishingModemIsFollowed) {
  auto mm = std::make_unique<MockService>(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm->Running());
  AddModem(*mm);
  StartBridge();
  ASSERT_TRUE(WaitUntil([&] { return State(phone::kRadioState) == "off" && StatusPresent(); }));
  // The modem leaves: the phone has no radio, as a phone without one.
  mm->Object(linuxphone::kMMPath)->callMethod("RemoveModem").onInterface(kModemMock);
  ASSERT_TRUE(WaitUntil([&] { return State(phone::kRadioState) == "absent"; }));
  EXPECT_FALSE(StatusPresent());
  AddModem(*mm);
  ASSERT_TRUE(WaitUntil([&] { return State(phone::kRadioState) == "off" && StatusPresent(); }));
  // The whole service goes and comes back.
  mm.reset();
  ASSERT_TRUE(WaitUntil([&] { return State(phone::kRadioState) == "absent"; }));
  EXPECT_FALSE(phone::SetRadioPower(true));
  mm = std::make_unique<MockService>(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm->Running());
  AddModem(*mm);
  ASSERT_TRUE(WaitUntil([&] { return State(phone::kRadioState) == "off" && StatusPresent(); }));
}

TEST_F(LinuxBackendTest, BluetoothAdapterPoweredAndDiscoverable) {
  MockService bluez(linuxphone::kBluezService, "bluez5");
  ASSERT_TRUE(bluez.Running());
  StartBridge();
  // No adapter yet: the mode cannot be read.
  DWORD mode = 99;
  ASSERT_TRUE(WaitUntil([&] { return State(kBluetoothModeState) == "absent"; }));
  EXPECT_NE(BthGetMode(&mode), 0);
  EXPECT_NE(BthSetMode(BTH_CONNECTABLE), 0);

  std::string adapterPath;
  bluez.Object("/")
      ->callMethod("AddAdapter")
      .onInterface("org.bluez.Mock")
      .withArguments(std::string("hci0"), std::string("phone"))
      .storeResultsTo(adapterPath);
  ASSERT_TRUE(WaitUntil([&] { return BthGetMode(&mode) == 0; }));
  EXPECT_EQ(mode, BTH_CONNECTABLE);  // the adapter starts powered

  ASSERT_EQ(BthSetMode(BTH_DISCOVERABLE), 0);
  auto adapter = bluez.Object(adapterPath);
  EXPECT_TRUE(
      adapter->getProperty("Discoverable").onInterface(linuxphone::kBluezAdapter).get<bool>());
  EXPECT_EQ(adapter->getProperty("DiscoverableTimeout")
                .onInterface(linuxphone::kBluezAdapter)
                .get<std::uint32_t>(),
            0u);
  ASSERT_EQ(BthGetMode(&mode), 0);
  EXPECT_EQ(mode, BTH_DISCOVERABLE);
  DWORD published = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Bluetooth", &published);
  EXPECT_EQ(published, 3u);

  ASSERT_EQ(BthSetMode(BTH_POWER_OFF), 0);
  EXPECT_FALSE(adapter->getProperty("Powered").onInterface(linuxphone::kBluezAdapter).get<bool>());
  ASSERT_EQ(BthGetMode(&mode), 0);
  EXPECT_EQ(mode, BTH_POWER_OFF);

  // Switched on the machine itself (its own settings), the phone follows.
  adapter->setProperty("Powered").onInterface(linuxphone::kBluezAdapter).toValue(true);
  EXPECT_TRUE(adapter->getProperty("Powered").onInterface(linuxphone::kBluezAdapter).get<bool>());
  ASSERT_TRUE(WaitUntil([&] { return BthGetMode(&mode) == 0 && mode == BTH_CONNECTABLE; }));
}

TEST_F(LinuxBackendTest, WifiFollowsWirelessEnabled) {
  MockService nm(linuxphone::kNMService, "networkmanager");
  ASSERT_TRUE(nm.Running());
  StartBridge();
  // NetworkManager without a Wi-Fi device: no adapter.
  ASSERT_TRUE(WaitUntil([] { return GetWifiStateName() == "absent"; }));
  std::string devicePath;
  nm.Object(linuxphone::kNMPath)
      ->callMethod("AddWiFiDevice")
      .onInterface(kDbusMock)
      .withArguments(std::string("wlan0dev"), std::string("wlan0"), std::int32_t{100})
      .storeResultsTo(devicePath);
  ASSERT_TRUE(WaitUntil([] { return GetWifiStateName() == "on"; }));

  WirelessDevice* list = nullptr;
  ASSERT_EQ(GetWirelessDevices(&list, 0), 0);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->type, WIRELESS_TYPE_WIFI);
  EXPECT_EQ(ChangeRadioState(list, WIRELESS_STATE_OFF, 1), 0);
  FreeDeviceList(list);
  auto manager = nm.Object(linuxphone::kNMPath);
  EXPECT_FALSE(
      manager->getProperty("WirelessEnabled").onInterface(linuxphone::kNMInterface).get<bool>());
  EXPECT_EQ(GetWifiStateName(), "off");
  DWORD published = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", "Wifi", &published);
  EXPECT_EQ(published, kWifiStateOff);

  nm.Stop();
  ASSERT_TRUE(WaitUntil([] { return GetWifiStateName() == "absent"; }));
}

TEST_F(LinuxBackendTest, BatteryLevelAndExternalPower) {
  MockService upower(linuxphone::kUPowerService, "upower", R"({"OnBattery": true})");
  ASSERT_TRUE(upower.Running());
  StartBridge();
  upower.Object(linuxphone::kUPowerPath)
      ->callMethod("SetupDisplayDevice")
      .onInterface(kDbusMock)
      .withArguments(std::uint32_t{2}, std::uint32_t{2}, 42.4, 40.0, 100.0, 5.0, std::int64_t{3600},
                     std::int64_t{0}, true, std::string("battery"), std::uint32_t{1});
  // The registry value is written just after the state, for its watchers to read the new state.
  DWORD main = 0;
  ASSERT_TRUE(WaitUntil([&] {
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, kBatteryStateKey, kBatteryMainValue, &main);
    return GetBatteryState().percent == 42 && main >> 16 == 42u;
  }));
  EXPECT_FALSE(GetBatteryState().onMains);

  upower.Object(linuxphone::kUPowerPath)
      ->setProperty("OnBattery")
      .onInterface(linuxphone::kUPowerInterface)
      .toValue(false);
  ASSERT_TRUE(WaitUntil([] { return GetBatteryState().onMains; }));
}

TEST_F(LinuxBackendTest, SoundSettingIsTheFeedbackProfile) {
  SNDFILEINFO info;
  // Without the feedback daemon there is no sound setting to read or change.
  EXPECT_EQ(SndGetSound(SND_EVENT_ALL, &info), E_FAIL);
  MockService feedback(linuxphone::kFeedbackService, linuxtest::FeedbackTemplate(), "", true);
  ASSERT_TRUE(feedback.Running());
  ASSERT_EQ(SndGetSound(SND_EVENT_ALL, &info), S_OK);
  EXPECT_EQ(info.sstType, SND_SOUNDTYPE_ON);

  auto profile = [&] {
    return feedback.Object(linuxphone::kFeedbackPath)
        ->getProperty("Profile")
        .onInterface(linuxphone::kFeedbackInterface)
        .get<std::string>();
  };
  SNDFILEINFO vibrate;
  vibrate.sstType = SND_SOUNDTYPE_VIBRATE;
  ASSERT_EQ(SndSetSound(SND_EVENT_ALL, vibrate, 1), S_OK);
  EXPECT_EQ(profile(), "quiet");
  ASSERT_EQ(SndGetSound(SND_EVENT_ALL, &info), S_OK);
  EXPECT_EQ(info.sstType, SND_SOUNDTYPE_VIBRATE);

  // Changed on the machine itself: read afresh, as the phone's setting is.
  feedback.Object(linuxphone::kFeedbackPath)
      ->setProperty("Profile")
      .onInterface(linuxphone::kFeedbackInterface)
      .toValue(std::string("silent"));
  ASSERT_EQ(SndGetSound(SND_EVENT_ALL, &info), S_OK);
  EXPECT_EQ(info.sstType, SND_SOUNDTYPE_NONE);

  SNDFILEINFO file;
  file.sstType = SND_SOUNDTYPE_FILE;
  file.szPathName = "\\Windows\\ring.wav";
  ASSERT_EQ(SndSetSound(SND_EVENT_ALL, file, 1), S_OK);
  EXPECT_EQ(profile(), "full");
  ASSERT_EQ(SndGetSound(SND_EVENT_ALL, &info), S_OK);
  EXPECT_EQ(info.sstType, SND_SOUNDTYPE_FILE);
  EXPECT_EQ(info.szPathName, file.szPathName);
}

TEST_F(LinuxBackendTest, PowerActionsGoToLogind) {
  // Without logind the machine cannot be suspended: the request fails and nothing is recorded.
  EXPECT_EQ(SetSystemPowerState("suspend", 0, POWER_FORCE), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(GetSystemPowerStateWord(), "on");
  MockService logind(linuxphone::kLogindService, "logind");
  ASSERT_TRUE(logind.Running());
  EXPECT_EQ(SetSystemPowerState("suspend", 0, POWER_FORCE), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetSystemPowerStateWord(), "suspend");
  EXPECT_EQ(SetSystemPowerState("", POWER_STATE_RESET, 0), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(SetSystemPowerState("idle", 0, 0), static_cast<DWORD>(ERROR_SUCCESS));
  auto suspend = Calls(logind, linuxphone::kLogindPath, "Suspend");
  ASSERT_EQ(suspend.size(), 1u);
  EXPECT_FALSE(suspend[0][0].get<bool>()) << "asked without interaction";
  EXPECT_EQ(Calls(logind, linuxphone::kLogindPath, "Reboot").size(), 1u);
  EXPECT_TRUE(Calls(logind, linuxphone::kLogindPath, "PowerOff").empty());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(LinuxBackendTest, SmsIsCreatedAndSentByTheModem) {
  SMS_HANDLE sms = 0;
  ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms), S_OK);
  SMS_ADDRESS to;
  to.ptsAddress = "+34600111222";
  TEXT_PROVIDER_SPECIFIC_DATA data;
  const BYTE text[] = {'h', 0, 'i', 0};
  auto send = [&] {
    return SmsSendMessage(sms, nullptr, &to, nullptr, text, sizeof text, &data,
                          kTextProviderDataSize, SMSDE_OPTIMAL, 0, nullptr);
  };
  // No modem: the message is not sent, and not recorded as sent.
  EXPECT_EQ(send(), E_FAIL);
  EXPECT_TRUE(ListOutbox().empty());

  MockService mm(linuxphone::kMMService, linuxtest::ModemTemplate());
  ASSERT_TRUE(mm.Running());
  AddModem(mm);
  ASSERT_EQ(send(), S_OK);
  SmsClose(sms);
  auto created = Calls(mm, kModemPath, "Create");
  ASSERT_EQ(created.size(), 1u);
  auto properties = created[0][0].get<std::map<std::string, sdbus::Variant>>();
  EXPECT_EQ(properties["number"].get<std::string>(), "+34600111222");
  EXPECT_EQ(properties["text"].get<std::string>(), "hi");
  EXPECT_EQ(Calls(mm, "/org/freedesktop/ModemManager1/SMS/0", "Send").size(), 1u);
  EXPECT_EQ(ListOutbox().size(), 1u);
}

TEST_F(LinuxBackendTest, MailGoesThroughTheMailer) {
  // A mailer that keeps its arguments and its input, and fails when told to.
  auto dir = dev_.folder() / "mailer";
  std::filesystem::create_directories(dir);
  auto mailer = dir / "sendmail";
  {
    std::ofstream script(mailer);
    script << "#!/bin/sh\necho \"$@\" > " << (dir / "args").string() << "\ncat > "
           << (dir / "message").string() << "\n[ ! -e " << (dir / "fail").string() << " ]\n";
  }
  std::filesystem::permissions(mailer, std::filesystem::perms::owner_all);
  setenv("TELVANE_SENDMAIL", mailer.c_str(), 1);

  auto submit = [&](const std::string& subject) {
    std::unique_ptr<mapi::IMAPISession> session;
    EXPECT_EQ(mapi::MAPILogonEx(&session), S_OK);
    std::unique_ptr<mapi::IMAPITable> table;
    session->GetMsgStoresTable(mapi::MAPI_UNICODE, &table);
    mapi::SRowSet rows;
    table->QueryRows(1, 0, &rows);
    std::unique_ptr<mapi::IMsgStore> store;
    session->OpenMsgStore(std::get<mapi::Binary>(rows[0][0].Value), 0, &store);
    std::vector<mapi::SPropValue> props;
    store->GetProps({mapi::PR_CE_IPM_DRAFTS_ENTRYID}, mapi::MAPI_UNICODE, &props);
    std::unique_ptr<mapi::IMAPIFolder> folder;
    store->OpenEntry(std::get<mapi::Binary>(props[0].Value), mapi::MAPI_MODIFY, &folder);
    std::unique_ptr<mapi::IMessage> message;
    folder->CreateMessage(&message);
    message->ModifyRecipients(
        mapi::MODRECIP_ADD,
        {{mapi::SPropValue::Long(mapi::PR_RECIPIENT_TYPE, mapi::MAPI_TO),
          mapi::SPropValue::String(mapi::PR_EMAIL_ADDRESS, "ana@example.org")},
         {mapi::SPropValue::Long(mapi::PR_RECIPIENT_TYPE, mapi::MAPI_BCC),
          mapi::SPropValue::String(mapi::PR_EMAIL_ADDRESS, "luis@example.org")}});
    message->SetProps({mapi::SPropValue::String(mapi::PR_SUBJECT, subject)});
    return message->SubmitMessage(0);
  };
  // A subject cannot add a header of its own.
  ASSERT_EQ(submit("Lunch\r\nBcc: eve@example.org"), S_OK);
  std::string message = ReadFile(dir / "message");
  EXPECT_NE(message.find("To: ana@example.org\n"), std::string::npos) << message;
  EXPECT_NE(message.find("Bcc: luis@example.org\n"), std::string::npos) << message;
  EXPECT_NE(message.find("Subject: LunchBcc: eve@example.org\n"), std::string::npos) << message;
  EXPECT_EQ(ReadFile(dir / "args"), "-i -t\n");

  ASSERT_EQ(submit("Caf\xc3\xa9"), S_OK);
  EXPECT_NE(ReadFile(dir / "message").find("Subject: =?UTF-8?B?Q2Fmw6k=?=\n"), std::string::npos);
  EXPECT_EQ(ListOutbox().size(), 2u);

  // A mailer that reports a failure: the message is not sent, and not recorded as sent.
  std::ofstream(dir / "fail").put('x');
  EXPECT_EQ(submit("again"), E_FAIL);
  EXPECT_EQ(ListOutbox().size(), 2u);
  unsetenv("TELVANE_SENDMAIL");
}

TEST_F(LinuxBackendTest, ConnectionProfilesAreTheDialUpEntries) {
  MockService nm(linuxphone::kNMService, "networkmanager");
  ASSERT_TRUE(nm.Running());
  std::string devicePath;
  nm.Object(linuxphone::kNMPath)
      ->callMethod("AddWiFiDevice")
      .onInterface(kDbusMock)
      .withArguments(std::string("wlan0dev"), std::string("wlan0"), std::int32_t{100})
      .storeResultsTo(devicePath);
  std::map<std::string, sdbus::Variant> statistics{{"RefreshRateMs", sdbus::Variant(0u)},
                                                   {"TxBytes", sdbus::Variant(std::uint64_t{0})},
                                                   {"RxBytes", sdbus::Variant(std::uint64_t{0})}};
  nm.Object(devicePath)
      ->callMethod("AddProperties")
      .onInterface(kDbusMock)
      .withArguments(std::string(linuxphone::kNMStatistics), statistics);
  std::map<std::string, std::map<std::string, sdbus::Variant>> profile{
      {"connection",
       {{"id", sdbus::Variant(std::string("Mobile data"))},
        {"uuid", sdbus::Variant(std::string("0d3f6a4e-8c1b-4b5e-9a2f-7e6d5c4b3a21"))},
        {"type", sdbus::Variant(std::string("gsm"))}}}};
  sdbus::ObjectPath profilePath;
  nm.Object(linuxphone::kNMSettingsPath)
      ->callMethod("AddConnection")
      .onInterface(linuxphone::kNMSettings)
      .withArguments(profile)
      .storeResultsTo(profilePath);
  StartBridge();
  auto entry = [] {
    for (const DialUpEntry& e : ListDialUpEntries()) {
      if (e.name == "Mobile data")
        return std::optional(e);
    }
    return std::optional<DialUpEntry>();
  };
  ASSERT_TRUE(WaitUntil([&] { return entry().has_value(); }));
  EXPECT_EQ(entry()->guid, "{0D3F6A4E-8C1B-4B5E-9A2F-7E6D5C4B3A21}");

  // The connection manager activates the profile.
  CONNMGR_CONNECTIONINFO info;
  info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  ASSERT_EQ(CLSIDFromString(entry()->guid, &info.guidDestNet), S_OK);
  HCONNECTION handle = 0;
  ASSERT_EQ(ConnMgrEstablishConnection(info, &handle), S_OK);
  RASCONNSTATUS status;
  ASSERT_TRUE(WaitUntil([&] {
    return RasGetConnectStatus(handle, &status) == 0 && status.rasconnstate == RASCS_Connected;
  }));
  EXPECT_EQ(Calls(nm, linuxphone::kNMPath, "ActivateConnection").size(), 1u);
  ASSERT_EQ(RasHangUp(handle), 0u);
  EXPECT_EQ(Calls(nm, linuxphone::kNMPath, "DeactivateConnection").size(), 1u);
  std::vector<RASCONN> connections;
  RasEnumConnections(&connections, 10);
  EXPECT_TRUE(connections.empty());

  // Connected on the machine itself, with the device's traffic; then dropped there.
  std::string activePath;
  nm.Object(linuxphone::kNMPath)
      ->callMethod("AddActiveConnection")
      .onInterface(kDbusMock)
      .withArguments(std::vector<std::string>{devicePath}, std::string(profilePath),
                     std::string("/"), std::string("7"), std::uint32_t{2})
      .storeResultsTo(activePath);
  ASSERT_TRUE(WaitUntil([&] { return entry()->state == RASCS_Connected; }));
  nm.Object(devicePath)
      ->callMethod("UpdateProperties")
      .onInterface(kDbusMock)
      .withArguments(
          std::string(linuxphone::kNMStatistics),
          std::map<std::string, sdbus::Variant>{{"RxBytes", sdbus::Variant(std::uint64_t{5000})}});
  ASSERT_TRUE(WaitUntil([&] { return entry()->bytesReceived == 5000; }));
  RAS_STATS stats;
  ASSERT_EQ(RasGetLinkStatistics(entry()->handle, 1, &stats), 0u);
  EXPECT_EQ(stats.dwBytesRcved, 5000u);
  nm.Object(linuxphone::kNMPath)
      ->callMethod("RemoveActiveConnection")
      .onInterface(kDbusMock)
      .withArguments(devicePath, activePath);
  ASSERT_TRUE(WaitUntil([&] { return entry()->handle == 0; }));
}

// The mirror's lock holds against the device's other processes too: two holders that share no
// mutex, as two processes do not, exclude each other through the device folder's lock file.
TEST_F(LinuxBackendTest, MirrorLockHoldsAcrossHoldersThatShareNoMutex) {
  std::mutex mine;
  std::mutex theirs;
  auto held = std::make_unique<linuxphone::MirrorLock>(mine, "connections");
  std::atomic<bool> got{false};
  std::thread other([&] {
    linuxphone::MirrorLock lock(theirs, "connections");
    got = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(got.load());
  held.reset();
  other.join();
  EXPECT_TRUE(got.load());
}

TEST_F(LinuxBackendTest, BacklightLevelThroughLogind) {
  MockService logind(linuxphone::kLogindService, "logind");
  ASSERT_TRUE(logind.Running());
  logind.Object(linuxphone::kLogindPath)
      ->callMethod("AddObject")
      .onInterface(kDbusMock)
      .withArguments(std::string(linuxphone::kLogindSessionPath),
                     std::string(linuxphone::kLogindSession),
                     std::map<std::string, sdbus::Variant>{},
                     std::vector<sdbus::Struct<std::string, std::string, std::string, std::string>>{
                         {"SetBrightness", "ssu", "", ""}});
  // A machine with one backlight of 255 steps.
  auto sysfs = dev_.folder() / "backlight";
  std::filesystem::create_directories(sysfs / "panel0");
  std::ofstream(sysfs / "panel0" / "max_brightness") << "255\n";
  ASSERT_TRUE(SetBatteryState(50, false));
  ASSERT_TRUE(linuxphone::ApplyBacklight(4, 10, sysfs.string()));
  ASSERT_TRUE(SetBatteryState(50, true));
  ASSERT_TRUE(linuxphone::ApplyBacklight(4, 10, sysfs.string()));
  auto calls = Calls(logind, linuxphone::kLogindSessionPath, "SetBrightness");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0][0].get<std::string>(), "backlight");
  EXPECT_EQ(calls[0][1].get<std::string>(), "panel0");
  EXPECT_EQ(calls[0][2].get<std::uint32_t>(), 102u) << "the battery level, 4 of 10";
  EXPECT_EQ(calls[1][2].get<std::uint32_t>(), 255u) << "the level on external power";
  // No backlight on the machine: nothing to set.
  EXPECT_FALSE(linuxphone::ApplyBacklight(4, 10, (dev_.folder() / "none").string()));
}

}  // namespace

// The simulated radios: Bluetooth mode and stack events, the wireless device list with device
// power, the object-exchange service, and their console commands.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "platform/Bluetooth.h"
#include "platform/Obex.h"
#include "platform/Registry.h"
#include "platform/WirelessDevices.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class RadioServicesThreadTest : public ::testing::Test {
 protected:
  static DWORD StateValue(const char* name) {
    DWORD v = 0xDEAD;
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Hardware", name, &v);
    return v;
  }
  static DWORD AdapterPower() {
    DWORD v = 0xDEAD;
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, kPowerStateKey,
                     std::string(kNetworkAdapterClass) + "\\WLAN1", &v);
    return v;
  }
  static HMSGQUEUE EventQueue() {
    MSGQUEUEOPTIONS options;
    options.dwFlags = MSGQUEUE_NOPRECOMMIT;
    options.cbMaxMessage = 100;
    options.bReadAccess = 1;
    return CreateMsgQueue("", options);
  }
  TestDevice dev;
};

TEST_F(RadioServicesThreadTest, ModeChangesFromAnyProcessRaiseStackEvents) {
  DWORD mode = 99;
  ASSERT_EQ(BthGetMode(&mode), 0);
  EXPECT_EQ(mode, BTH_POWER_OFF);
  EXPECT_EQ(RequestBluetoothNotifications(0x1, EventQueue()), 0u);

  HMSGQUEUE queue = EventQueue();
  HBTNOTIFY request = RequestBluetoothNotifications(BTE_CLASS_STACK, queue);
  ASSERT_NE(request, 0u);
  ASSERT_EQ(dev.Console({"bt", "discoverable"}), 0);
  BluetoothEvent event;
  DWORD read = 0;
  ASSERT_EQ(ReadMsgQueue(queue, &event, sizeof event, &read, 5000), ERROR_SUCCESS);
  EXPECT_EQ(event.eventClass, BTE_CLASS_STACK);
  EXPECT_EQ(event.eventId, BTE_STACK_MODE_CHANGED);
  EXPECT_EQ(event.mode, BTH_DISCOVERABLE);
  EXPECT_EQ(StateValue("Bluetooth"), 3u);

  // Setting the same mode again raises nothing; a change in this process does.
  ASSERT_EQ(BthSetMode(BTH_DISCOVERABLE), 0);
  ASSERT_EQ(BthSetMode(BTH_CONNECTABLE), 0);
  ASSERT_EQ(ReadMsgQueue(queue, &event, sizeof event, &read, 5000), ERROR_SUCCESS);
  EXPECT_EQ(event.mode, BTH_CONNECTABLE);
  EXPECT_EQ(StateValue("Bluetooth"), 1u);
  EXPECT_EQ(BthSetMode(3), ERROR_INVALID_PARAMETER);

  // Ending the request wakes a reader blocked on the queue.
  std::thread reader([&] {
    DWORD n = 0;
    EXPECT_EQ(ReadMsgQueue(queue, &event, sizeof event, &n, INFINITE), ERROR_PIPE_NOT_CONNECTED);
  });
  EXPECT_EQ(StopBluetoothNotifications(request), 1);
  reader.join();
  EXPECT_EQ(StopBluetoothNotifications(request), 0);
  CloseMsgQueue(queue);
}

TEST_F(RadioServicesThreadTest, InjectedReadFailuresAreCountedDown) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"fail", "bt-read", "2"}, &out), 0);
  EXPECT_EQ(out, "2\n");
  DWORD mode = 99;
  EXPECT_NE(BthGetMode(&mode), 0);
  EXPECT_NE(BthGetMode(&mode), 0);
  EXPECT_EQ(mode, 99u);
  EXPECT_EQ(BthGetMode(&mode), 0);
  EXPECT_EQ(PendingBluetoothReadFailures(), 0);
  EXPECT_NE(dev.Console({"fail", "bt-read", "-1"}, nullptr, &err), 0);
  EXPECT_NE(err.find("-1"), std::string::npos);
  EXPECT_NE(dev.Console({"fail", "disk", "1"}, nullptr, &err), 0);
  EXPECT_NE(err.find("bt-read"), std::string::npos);
}

TEST_F(RadioServicesThreadTest, ConsolePrintsOneWordAndRejectsUnknownStates) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"bt"}, &out), 0);
  EXPECT_EQ(out, "off\n");
  ASSERT_EQ(dev.Console({"wifi"}, &out), 0);
  EXPECT_EQ(out, "on\n");
  ASSERT_EQ(dev.Console({"wifi", "absent"}, &out), 0);
  EXPECT_EQ(out, "absent\n");
  EXPECT_EQ(StateValue("Wifi"), kWifiStateAbsent);
  ASSERT_EQ(dev.Console({"wifi", "off"}, &out), 0);
  EXPECT_EQ(StateValue("Wifi"), kWifiStateOff);
  EXPECT_EQ(AdapterPower(), static_cast<DWORD>(POWER_D4));
  EXPECT_NE(dev.Console({"bt", "on"}, nullptr, &err), 0);
  EXPECT_NE(err.find("\"on\""), std::string::npos);
  EXPECT_NE(dev.Console({"wifi", "up"}, nullptr, &err), 0);
  EXPECT_NE(dev.Console({"bt", "off", "now"}, nullptr, &err), 0);
  ASSERT_EQ(dev.Console({"state"}, &out), 0);
  EXPECT_NE(out.find("wifi = off"), std::string::npos);
}

TEST_F(RadioServicesThreadTest, DeviceListFollowsEveryRadio) {
  SetWifiAdapterStates({WIRELESS_STATE_ON, WIRELESS_STATE_OFF});
  BthSetMode(BTH_DISCOVERABLE);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10);
  WirelessDevice* list = nullptr;
  ASSERT_EQ(GetWirelessDevices(&list, 0), 0);
  std::vector<std::tuple<DWORD, DWORD, std::string>> seen;
  for (auto* d = list; d; d = d->next)
    seen.emplace_back(d->type, d->state, d->name);
  EXPECT_EQ(seen, (std::vector<std::tuple<DWORD, DWORD, std::string>>{
                      {WIRELESS_TYPE_WIFI, 1, "WLAN1"},
                      {WIRELESS_TYPE_WIFI, 0, "WLAN2"},
                      {WIRELESS_TYPE_PHONE, 0, "Phone"},
                      {WIRELESS_TYPE_BLUETOOTH, 1, "Bluetooth"}}));

  // Switching the first adapter off leaves none on; Bluetooth goes off through the list too.
  EXPECT_EQ(ChangeRadioState(list, WIRELESS_STATE_OFF, 1), 0);
  EXPECT_EQ(StateValue("Wifi"), kWifiStateOff);
  WirelessDevice* bt = list->next->next->next;
  EXPECT_EQ(ChangeRadioState(bt, WIRELESS_STATE_OFF, 1), 0);
  EXPECT_EQ(ChangeRadioState(list->next->next, WIRELESS_STATE_ON, 1), ERROR_GEN_FAILURE);
  EXPECT_EQ(ChangeRadioState(list, 2, 1), ERROR_INVALID_PARAMETER);
  DWORD mode = 99;
  BthGetMode(&mode);
  EXPECT_EQ(mode, BTH_POWER_OFF);
  EXPECT_EQ(dev.device().Activities("radio").size(), 2u);

  // A record of an adapter that has gone cannot be switched.
  SetWifiAdapterStates({});
  EXPECT_EQ(ChangeRadioState(list->next, WIRELESS_STATE_ON, 1), ERROR_FILE_NOT_FOUND);
  FreeDeviceList(list);

  FailNextWirelessListReads(1);
  EXPECT_EQ(GetWirelessDevices(&list, 0), ERROR_GEN_FAILURE);
}

TEST_F(RadioServicesThreadTest, DevicePowerOnlyForTheNamedAdapter) {
  std::string name = std::string(kNetworkAdapterClass) + "\\WLAN1";
  EXPECT_EQ(SetDevicePower("{00000000-0000-0000-0000-000000000000}\\X", POWER_NAME, POWER_D4),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetDevicePower(name, 0, POWER_D4), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(SetDevicePower(name, POWER_NAME, POWER_D4), ERROR_SUCCESS);
  EXPECT_EQ(GetWifiStateName(), "off");
  EXPECT_EQ(AdapterPower(), static_cast<DWORD>(POWER_D4));
  ASSERT_EQ(SetDevicePower(name, POWER_NAME, POWER_D0), ERROR_SUCCESS);
  EXPECT_EQ(StateValue("Wifi"), kWifiStateOn);
  EXPECT_EQ(AdapterPower(), static_cast<DWORD>(POWER_D0));
  SetWifiStateByName("absent");
  EXPECT_EQ(SetDevicePower(name, POWER_NAME, POWER_D0), ERROR_FILE_NOT_FOUND);
}

TEST_F(RadioServicesThreadTest, ObexServiceAnswersThroughItsDeviceFile) {
  LONG error = 0;
  EXPECT_EQ(OpenServiceDevice("COM1:", GENERIC_READ, 0, OPEN_EXISTING, &error), 0u);
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  HSERVICEDEVICE h = OpenServiceDevice("OBX0:", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(OpenServiceDevice("OBX0:", GENERIC_READ, 0, OPEN_EXISTING, &error), 0u);
  EXPECT_EQ(error, 32);

  DWORD state = 7, returned = 0;
  EXPECT_EQ(DeviceIoControl(h, IOCTL_SERVICE_START, nullptr, 0, nullptr, 0, &returned), 1);
  EXPECT_EQ(DeviceIoControl(h, IOCTL_SERVICE_STATUS, nullptr, 0, &state, 2, &returned), 0);
  EXPECT_EQ(DeviceIoControl(h, IOCTL_SERVICE_STATUS, nullptr, 0, &state, 4, &returned), 1);
  EXPECT_EQ(state, SERVICE_STATE_ON);
  EXPECT_EQ(returned, 4u);
  EXPECT_EQ(DeviceIoControl(h, IOCTL_SERVICE_STOP, nullptr, 0, nullptr, 0, &returned), 1);
  EXPECT_EQ(GetObexServiceState(), "stopped");
  EXPECT_EQ(CloseServiceDevice(h), 1);
  EXPECT_EQ(DeviceIoControl(h, IOCTL_SERVICE_START, nullptr, 0, nullptr, 0, &returned), 0);
  EXPECT_EQ(dev.device().Activities("obex").size(), 3u);
}

}  // namespace

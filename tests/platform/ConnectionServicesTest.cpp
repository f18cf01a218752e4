// The simulated dial-up service and connection manager: entries with provider keys, connects
// by destination network, link statistics that move only with added traffic, and status
// messages to registered windows from any process.
#include <gtest/gtest.h>

#include "platform/ConnMgr.h"
#include "platform/Ras.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

constexpr const char* kInternet = "{436EF144-B4FB-4863-A041-8F905A62C572}";

class ConnectionServicesThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hwnd = RegisterTopLevelWindow("ConnTest", &sink);
    ASSERT_EQ(ConnMgrRegisterForStatusChangeNotification(1, hwnd), S_OK);
    msg = RegisterWindowMessage(kConnMgrStatusMessage);
  }
  // The window goes before its sink: a message being delivered ends first.
  void TearDown() override { DestroyTopLevelWindow(hwnd); }
  void Add(const std::string& name, const std::string& guid, bool enabled) {
    std::string error;
    ASSERT_TRUE(AddDialUpEntry(name, guid, enabled, &error)) << error;
  }
  // The next status message's wParam, or 0 when none came within 5 s.
  DWORD NextStatus() {
    MessageQueueSink::Message m;
    while (sink.Get(&m, 5000)) {
      if (m.msg == msg)
        return static_cast<DWORD>(m.wParam);
    }
    return 0;
  }
  HRESULT Connect(const std::string& guid, HCONNECTION* handle) {
    CONNMGR_CONNECTIONINFO info;
    info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
    info.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
    EXPECT_EQ(CLSIDFromString(guid, &info.guidDestNet), S_OK);
    return ConnMgrEstablishConnection(info, handle);
  }

  TestDevice dev;
  MessageQueueSink sink;
  HWND hwnd = 0;
  UINT msg = 0;
};

TEST(GuidTest, ReadsTheBracedFormOnly) {
  GUID g;
  ASSERT_EQ(CLSIDFromString("{436ef144-b4fb-4863-a041-8f905a62c572}", &g), S_OK);
  EXPECT_EQ(g.Data1, 0x436EF144u);
  EXPECT_EQ(g.Data4[7], 0x72);
  EXPECT_EQ(GuidToString(g), kInternet);
  EXPECT_EQ(CLSIDFromString("436EF144-B4FB-4863-A041-8F905A62C572", &g), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString("{436EF144-B4FB-4863-A041_8F905A62C572}", &g), CO_E_CLASSSTRING);
}

TEST_F(ConnectionServicesThreadTest, EntriesComeWithTheirProviderKeys) {
  Add("GPRS", kInternet, true);
  Add("WAP", "", false);
  std::string error;
  EXPECT_FALSE(AddDialUpEntry("gprs", "", true, &error)) << "names compare without case";
  EXPECT_FALSE(AddDialUpEntry("X", "{nope}", true, &error));

  std::vector<std::string> names;
  DWORD total = 0;
  EXPECT_EQ(RasEnumEntries(&names, 1, &total), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(total, 2u);
  EXPECT_EQ(names, std::vector<std::string>{"GPRS"});
  RASENTRY props;
  EXPECT_EQ(RasGetEntryProperties("WAP", &props), ERROR_SUCCESS);
  EXPECT_EQ(RasGetEntryProperties("None", &props), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);

  auto entries = ListDialUpEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].enabled);
  EXPECT_EQ(entries[0].guid, kInternet);
  EXPECT_FALSE(entries[1].enabled);
  EXPECT_EQ(entries[1].keyPath, std::string(kDialUpProviderKey) + "\\WAP");
  DWORD alwaysOn = 7;
  EXPECT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, entries[1].keyPath, "AlwaysOn", &alwaysOn), S_OK);
  EXPECT_EQ(alwaysOn, 0u);
}

TEST_F(ConnectionServicesThreadTest, ConnectsByDestinationNetworkAsynchronously) {
  Add("Off", kInternet, false);
  Add("GPRS", kInternet, true);
  HCONNECTION handle = 0;
  ASSERT_EQ(Connect(kInternet, &handle), S_OK);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(NextStatus(), CONNMGR_STATUS_CONNECTED);
  std::vector<RASCONN> conns;
  ASSERT_EQ(RasEnumConnections(&conns, 10), ERROR_SUCCESS);
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_EQ(conns[0].szEntryName, "GPRS") << "the first enabled entry for that network";
  RASCONNSTATUS status;
  ASSERT_EQ(RasGetConnectStatus(conns[0].hrasconn, &status), ERROR_SUCCESS);
  EXPECT_EQ(status.rasconnstate, RASCS_Connected);
  DWORD count = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Connections", "Count", &count);
  EXPECT_EQ(count, 1u);

  // A second request reuses the link.
  HCONNECTION again = 0;
  ASSERT_EQ(Connect(kInternet, &again), S_OK);
  EXPECT_EQ(again, handle);

  EXPECT_EQ(Connect("{00000000-0000-0000-0000-000000000001}", &again), CONNMGR_E_NO_DESTINATION);
}

TEST_F(ConnectionServicesThreadTest, RefusedWhenDisabledAndFailsWithTheRadioOff) {
  Add("GPRS", kInternet, false);
  HCONNECTION handle = 0;
  EXPECT_EQ(Connect(kInternet, &handle), CONNMGR_E_DISABLED);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, ListDialUpEntries()[0].keyPath, "enabled", 1);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10);
  ASSERT_EQ(Connect(kInternet, &handle), S_OK);
  EXPECT_EQ(NextStatus(), CONNMGR_STATUS_CONNECTIONFAILED);
  std::vector<RASCONN> conns;
  RasEnumConnections(&conns, 10);
  EXPECT_TRUE(conns.empty());
}

TEST_F(ConnectionServicesThreadTest, TrafficGrowsOnlyWhenAddedAndHangUpEndsTheHandle) {
  Add("GPRS", kInternet, true);
  std::string error;
  EXPECT_FALSE(AddConnectionTraffic("GPRS", 10, &error)) << "not connected yet";
  ASSERT_TRUE(ConnectDialUpEntry("GPRS", &error)) << error;
  EXPECT_EQ(NextStatus(), CONNMGR_STATUS_CONNECTED);
  HRASCONN conn = ListDialUpEntries()[0].handle;
  RAS_STATS stats;
  ASSERT_EQ(RasGetLinkStatistics(conn, 1, &stats), ERROR_SUCCESS);
  EXPECT_EQ(stats.dwBytesXmited + stats.dwBytesRcved, 0u);
  ASSERT_TRUE(AddConnectionTraffic("GPRS", 4096, &error));
  ASSERT_EQ(RasGetLinkStatistics(conn, 1, &stats), ERROR_SUCCESS);
  EXPECT_EQ(stats.dwBytesXmited + stats.dwBytesRcved, 4096u);
  ASSERT_EQ(RasGetLinkStatistics(conn, 1, &stats), ERROR_SUCCESS);
  EXPECT_EQ(stats.dwBytesRcved, 4096u) << "reading does not move the counters";

  EXPECT_EQ(RasHangUp(conn), ERROR_SUCCESS);
  EXPECT_EQ(NextStatus(), CONNMGR_STATUS_DISCONNECTED);
  EXPECT_EQ(RasHangUp(conn), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  ASSERT_TRUE(ConnectDialUpEntry("GPRS", &error));
  EXPECT_NE(ListDialUpEntries()[0].handle, conn) << "handles are never reused";
  EXPECT_EQ(RasGetLinkStatistics(conn, 1, &stats), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ConnectionServicesThreadTest, ConsoleListsAddsAndDropsConnections) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"connections", "add", "GPRS"}, &out, &err), 0) << err;
  ASSERT_EQ(dev.Console({"connections", "add", "Work", "--disabled", "--guid", kInternet}), 0);
  EXPECT_NE(dev.Console({"connections", "add", "GPRS"}, &out, &err), 0);
  EXPECT_NE(err.find("exists already"), std::string::npos);
  ASSERT_EQ(dev.Console({"connections", "connect", "GPRS"}), 0);
  EXPECT_EQ(NextStatus(), CONNMGR_STATUS_CONNECTED) << "the console's change reaches this process";
  ASSERT_EQ(dev.Console({"connections", "traffic", "GPRS", "1500"}), 0);
  ASSERT_EQ(dev.Console({"connections"}, &out), 0);
  EXPECT_EQ(out, "GPRS  enabled  connected  1500 bytes\nWork  disabled  disconnected\n");

  EXPECT_NE(dev.Console({"connections", "traffic", "Work", "10"}, &out, &err), 0);
  EXPECT_NE(dev.Console({"connections", "traffic", "GPRS", "lots"}, &out, &err), 0);
  ASSERT_EQ(dev.Console({"connections", "drop", "GPRS"}), 0);
  EXPECT_EQ(NextStatus(), CONNMGR_STATUS_DISCONNECTED);
  ASSERT_EQ(dev.Console({"connections", "list"}, &out), 0);
  EXPECT_EQ(out, "GPRS  enabled  disconnected\nWork  disabled  disconnected\n");
}

}  // namespace

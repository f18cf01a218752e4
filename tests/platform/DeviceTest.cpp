// The device folder, its store and the phone's file system.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/Registry.h"
#include "platform/Time.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

TEST(DeviceTest, PathsMapBothWays) {
  TestDevice dev;
  auto host = dev.device().HostPath("\\Program Files\\Telvane\\log.txt");
  EXPECT_EQ(host, dev.folder() / "fs" / "Program Files" / "Telvane" / "log.txt");
  EXPECT_EQ(dev.device().HostPath("\\Telvane.xml"), dev.folder() / "fs" / "Telvane.xml");
  EXPECT_EQ(dev.device().ProgramFolder(), dev.folder() / "fs" / "Program Files" / "Telvane");
  EXPECT_EQ(dev.device().DevicePath(host), "\\Program Files\\Telvane\\log.txt");
  EXPECT_EQ(dev.device().DevicePath(dev.folder() / "fs"), "\\");
  // Nothing maps outside the phone's file system.
  EXPECT_EQ(dev.device().HostPath("\\..\\..\\etc\\passwd"), dev.folder() / "fs" / "etc" / "passwd");
  EXPECT_FALSE(dev.device().DevicePath(dev.folder() / "device.db").has_value());
  EXPECT_FALSE(dev.device().DevicePath("/etc/passwd").has_value());
}

TEST(DeviceTest, StoreIsCreatedOnceWithASchemaVersion) {
  TestDevice dev;
  EXPECT_EQ(dev.device().store().GetMeta("schema_version"), "1");
  ASSERT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10), S_OK);
  // Reopening keeps what was written and does not rewrite the base registry.
  Device::Open(dev.folder());
  DWORD status = 0;
  EXPECT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", &status), S_OK);
  EXPECT_EQ(status, 0x10u);
  auto st = Device::Current()->store().Prepare("PRAGMA journal_mode");
  ASSERT_TRUE(st.Step());
  EXPECT_EQ(st.Text(0), "wal");
}

TEST(DeviceTest, RefusesAStoreFromANewerVersion) {
  TestDevice dev;
  dev.device().store().SetMeta("schema_version", "999");
  Device::Close();
  EXPECT_THROW(Device::Open(dev.folder()), StoreError);
  EXPECT_EQ(Device::Current(), nullptr);
}

TEST(DeviceTest, ClockOffsetIsSharedWithOtherProcesses) {
  TestDevice dev;
  std::int64_t before = Clock::LocalNowMs();
  ASSERT_EQ(dev.Console({"clock", "+2h"}), 0);
  std::int64_t after = Clock::LocalNowMs();
  EXPECT_NEAR(static_cast<double>(after - before), 2.0 * 3600000, 60000);
  ASSERT_EQ(dev.Console({"clock", "set", "2031-05-06 07:08:09"}), 0);
  SYSTEMTIME st = Clock::LocalTime();
  EXPECT_EQ(st.wYear, 2031);
  EXPECT_EQ(st.wMonth, 5);
  EXPECT_EQ(st.wDay, 6);
  EXPECT_EQ(st.wHour, 7);
  ASSERT_EQ(dev.Console({"clock", "reset"}), 0);
  EXPECT_EQ(Clock::OffsetMs(), 0);
  EXPECT_NE(dev.Console({"clock", "set", "2031-02-30 00:00:00"}), 0);
}

// A writer killed in the middle of its writes leaves a store that opens and holds every value
// whose write had returned.
TEST(DeviceTest, KilledWriterLeavesEveryCommittedValue) {
  TestDevice dev;
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Crash", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  auto progress = dev.folder() / "progress.txt";
  std::string script = "i=0; while true; do i=$((i+1)); \"" + std::string(TELVANE_DEVICE_TOOL) +
                       "\" --device \"" + dev.folder().string() +
                       "\" reg set HKLM Crash v$i dword $i || exit 1; echo $i > \"" +
                       progress.string() + ".tmp\" && mv \"" + progress.string() + ".tmp\" \"" +
                       progress.string() + "\"; done";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  // The progress file is replaced by a rename, so a kill never leaves it half written. The
  // writer is killed once it has made progress (a loaded machine may be slow to start it).
  testsupport::WaitUntil([&] { return std::filesystem::exists(progress); }, 10000, 50);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  kill(-pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);

  Device::Close();
  Device& reopened = Device::Open(dev.folder());
  auto check = reopened.store().Prepare("PRAGMA integrity_check");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ(check.Text(0), "ok");
  std::ifstream in(progress);
  int acknowledged = 0;
  in >> acknowledged;
  ASSERT_GT(acknowledged, 0) << "the writer made no progress";
  for (int i = 1; i <= acknowledged; ++i) {
    DWORD v = 0;
    ASSERT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, "Crash", "v" + std::to_string(i), &v), S_OK)
        << i;
    EXPECT_EQ(v, static_cast<DWORD>(i));
  }
}

TEST(TimeTest, CivilArithmetic) {
  SYSTEMTIME st;
  ASSERT_TRUE(ParseSystemTime("2024-02-29 23:30:00", &st));
  EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
  SYSTEMTIME next = MsToSystemTime(SystemTimeToMs(st) + 86400000LL);
  EXPECT_EQ(FormatSystemTime(next), "2024-03-01 23:30:00");
  ASSERT_TRUE(ParseSystemTime("1969-12-31 23:59:59", &st));
  EXPECT_EQ(FormatSystemTime(MsToSystemTime(SystemTimeToMs(st))), "1969-12-31 23:59:59");
  EXPECT_FALSE(ParseSystemTime("2023-02-29 00:00:00", &st));
  EXPECT_FALSE(ParseSystemTime("2023-13-01 00:00:00", &st));
  EXPECT_FALSE(ParseSystemTime("yesterday", &st));
  EXPECT_TRUE(TimeOfDay(9, 59) < TimeOfDay(10, 0));
  EXPECT_TRUE(TimeOfDay(10, 0) == TimeOfDay(10, 0));
}

TEST(TimeTest, VirtualClockMovesOnlyWhenAdvanced) {
  SYSTEMTIME start;
  ASSERT_TRUE(ParseSystemTime("2030-06-01 12:00:00", &start));
  Clock::UseVirtual(SystemTimeToMs(start));
  EXPECT_EQ(FormatSystemTime(Clock::LocalTime()), "2030-06-01 12:00:00");
  Clock::AdvanceVirtual(90 * 60000);
  EXPECT_EQ(FormatSystemTime(Clock::LocalTime()), "2030-06-01 13:30:00");
  Clock::UseReal();
  EXPECT_FALSE(Clock::IsVirtual());
}

}  // namespace

// The registry as the program and other processes of the device see it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/MsgQueue.h"
#include "platform/Registry.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndLeadingBackslash) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Orvella\\Telvane", &key),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key, "Theme", "dark"), ERROR_SUCCESS);
  RegCloseKey(key);

  std::string value;
  EXPECT_EQ(RegistryGetString(HKEY_LOCAL_MACHINE, "Software\\Orvella\\Telvane", "theme", &value),
            S_OK);
  EXPECT_EQ(value, "dark");
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\\\orvella\\TELVANE\\", &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryString(key, "THEME", &value), ERROR_SUCCESS);
  RegCloseKey(key);
  // The two roots are separate trees.
  EXPECT_NE(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Orvella\\Telvane", &key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, WritesNeverCreateAMissingKey) {
  EXPECT_NE(RegistrySetDWORD(HKEY_LOCAL_MACHINE, "Software\\Missing", "x", 5), S_OK);
  DWORD v = 7;
  EXPECT_NE(RegistryGetDWORD(HKEY_LOCAL_MACHINE, "Software\\Missing", "x", &v), S_OK);
  EXPECT_EQ(v, 7u);
  HKEY key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Missing", &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ValueKindsRoundTrip) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "A\\B", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetDWORD(key, "n", 0xFFFFFFFFu), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(key, "s", "ñandú"), ERROR_SUCCESS);
  const BYTE blob[] = {0, 1, 2, 0xFF};
  EXPECT_EQ(RegSetValueEx(key, "b", REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);

  DWORD n = 0;
  EXPECT_EQ(RegQueryDWORD(key, "N", &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 0xFFFFFFFFu);
  std::string s;
  EXPECT_EQ(RegQueryString(key, "s", &s), ERROR_SUCCESS);
  EXPECT_EQ(s, "ñandú");
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_EQ(RegQueryValueEx(key, "b", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(data, std::vector<BYTE>(blob, blob + 4));
  // A string read as a number is a type mismatch, not a zero.
  EXPECT_NE(RegQueryDWORD(key, "s", &n), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, EnumerationAndDeletion) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Comm\\Test\\First\\Deep", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Comm\\Test\\Second", &key), ERROR_SUCCESS);
  RegSetDWORD(key, "one", 1);
  RegSetDWORD(key, "two", 2);
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Comm\\Test", &key), ERROR_SUCCESS);
  std::string name;
  ASSERT_EQ(RegEnumKeyEx(key, 0, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "First");
  ASSERT_EQ(RegEnumKeyEx(key, 1, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "Second");
  EXPECT_EQ(RegEnumKeyEx(key, 2, &name), ERROR_NO_MORE_ITEMS);

  HKEY second;
  ASSERT_EQ(RegOpenKeyEx(key, "second", &second), ERROR_SUCCESS);
  DWORD type;
  ASSERT_EQ(RegEnumValue(second, 1, &name, &type), ERROR_SUCCESS);
  EXPECT_EQ(name, "two");
  EXPECT_EQ(RegDeleteValue(second, "one"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(second, "one"), ERROR_FILE_NOT_FOUND);

  // Deleting a key takes its sub-keys; a handle to a deleted key reports it.
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "comm\\test"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetDWORD(second, "three", 3), ERROR_KEY_DELETED);
  HKEY gone;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Comm\\Test\\First\\Deep", &gone),
            ERROR_FILE_NOT_FOUND);
  // A sibling whose name starts the same way survives.
  RegCloseKey(second);
  RegCloseKey(key);
}

TEST_F(RegistryTest, DeletingAKeyLeavesSimilarlyNamedSiblings) {
  HKEY key;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, "X\\Ab", &key);
  RegCloseKey(key);
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, "X\\Ab_c", &key);
  RegCloseKey(key);
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, "X\\Abc", &key);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "X\\Ab"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "X\\Ab_c", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "X\\Abc", &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, BaseRegistryHasThePhoneState) {
  DWORD status = 99;
  EXPECT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", &status), S_OK);
  EXPECT_EQ(status, 0u);
  HKEY key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "\\Comm\\ConnMgr\\Providers", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "ControlPanel\\Backlight", &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

// Reads one notification from a queue-mode watch.
bool ReadNotification(HMSGQUEUE q, RegistryNotifyMessage* header, DWORD* value, DWORD timeoutMs) {
  BYTE buf[4112];
  DWORD read = 0;
  if (ReadMsgQueue(q, buf, sizeof buf, &read, timeoutMs) != ERROR_SUCCESS)
    return false;
  std::memcpy(header, buf, sizeof *header);
  if (value && header->size >= 4)
    std::memcpy(value, buf + sizeof *header, 4);
  return true;
}

TEST_F(RegistryTest, QueueWatchSeesMaskedChangesOnly) {
  MSGQUEUEOPTIONS opts;
  opts.dwFlags = MSGQUEUE_NOPRECOMMIT | MSGQUEUE_ALLOW_BROKEN;
  opts.cbMaxMessage = 4112;
  opts.bReadAccess = 1;
  HMSGQUEUE q = CreateMsgQueue("WATCH_TEST_QUEUE", opts);
  ASSERT_NE(q, 0u);
  // Nobody writes into the queue yet.
  BYTE buf[16];
  DWORD read;
  EXPECT_EQ(ReadMsgQueue(q, buf, sizeof buf, &read, 0), ERROR_PIPE_NOT_CONNECTED);

  NOTIFICATIONCONDITION cond;
  cond.dwMask = 0x10;
  HREGNOTIFY h = 0;
  ASSERT_EQ(RegistryNotifyMsgQueue(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status",
                                   "WATCH_TEST_QUEUE", 42, &cond, &h),
            S_OK);
  EXPECT_EQ(ReadMsgQueue(q, buf, sizeof buf, &read, 0), ERROR_TIMEOUT);

  // Bits outside the mask do not notify; the masked bit does, in either direction.
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x01);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x11);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x00);
  RegistryNotifyMessage header;
  DWORD value = 0;
  ASSERT_TRUE(ReadNotification(q, &header, &value, 2000));
  EXPECT_EQ(header.handle, h);
  EXPECT_EQ(header.userData, 42u);
  EXPECT_EQ(value, 0x11u);
  ASSERT_TRUE(ReadNotification(q, &header, &value, 2000));
  EXPECT_EQ(value, 0x00u);
  // Nothing more came: the next notification is the one of a later masked change.
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x10);
  ASSERT_TRUE(ReadNotification(q, &header, &value, 2000));
  EXPECT_EQ(value, 0x10u);

  EXPECT_EQ(RegistryCloseNotification(h), S_OK);
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", 0x00);
  EXPECT_EQ(ReadMsgQueue(q, buf, sizeof buf, &read, 100), ERROR_PIPE_NOT_CONNECTED);
  CloseMsgQueue(q);
}

// Another process (the device console) writes; this process's watches wake.
TEST_F(RegistryTest, WatchesWakeOnWritesFromAnotherProcess) {
  MSGQUEUEOPTIONS opts;
  opts.dwFlags = MSGQUEUE_ALLOW_BROKEN;
  opts.cbMaxMessage = 4112;
  HMSGQUEUE q = CreateMsgQueue("CROSS_PROCESS_QUEUE", opts);
  HREGNOTIFY queued = 0, called = 0;
  ASSERT_EQ(RegistryNotifyMsgQueue(HKEY_LOCAL_MACHINE, "System\\State\\Battery", "Main",
                                   "CROSS_PROCESS_QUEUE", 0, nullptr, &queued),
            S_OK);
  std::mutex m;
  std::condition_variable cv;
  std::vector<DWORD> seen;
  NOTIFICATIONCONDITION cond;
  cond.dwMask = 0xFFFFFFFF;
  ASSERT_EQ(RegistryNotifyCallback(
                HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count",
                [&](HREGNOTIFY, DWORD, const BYTE* data, UINT size) {
                  DWORD v = 0;
                  if (size >= 4)
                    std::memcpy(&v, data, 4);
                  std::lock_guard lock(m);
                  seen.push_back(v);
                  cv.notify_all();
                },
                0, &cond, &called),
            S_OK);
  EXPECT_NE(queued, called);

  ASSERT_EQ(dev.Console({"reg", "set", "HKLM", "System\\State\\Battery", "Main", "dword", "65537"}),
            0);
  ASSERT_EQ(dev.Console(
                {"reg", "set", "HKLM", "System\\State\\Phone", "Active Call Count", "dword", "1"}),
            0);

  RegistryNotifyMessage header;
  DWORD value = 0;
  ASSERT_TRUE(ReadNotification(q, &header, &value, 5000));
  EXPECT_EQ(header.handle, queued);
  EXPECT_EQ(value, 65537u);
  std::unique_lock lock(m);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return !seen.empty(); }));
  EXPECT_EQ(seen, std::vector<DWORD>{1});
  lock.unlock();
  RegistryCloseNotification(queued);
  RegistryCloseNotification(called);
  CloseMsgQueue(q);
}

TEST_F(RegistryTest, ConcurrentWritersKeepEveryValue) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Concurrent", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        RegistrySetDWORD(HKEY_LOCAL_MACHINE, "Concurrent", "v" + std::to_string(t * 100 + i), i);
      }
    });
  }
  for (auto& th : threads)
    th.join();
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Concurrent", &key), ERROR_SUCCESS);
  int count = 0;
  std::string name;
  DWORD type;
  while (RegEnumValue(key, count, &name, &type) == ERROR_SUCCESS)
    ++count;
  RegCloseKey(key);
  EXPECT_EQ(count, 200);
}

}  // namespace

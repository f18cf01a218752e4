// Windows and window messages within and across the processes of a device.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/HardwareEvents.h"
#include "platform/MsgQueue.h"
#include "platform/Window.h"
#include "support/TestDevice.h"

using namespace platform;

namespace {

class WindowTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(WindowTest, FindAndPostWithinTheProcess) {
  MessageQueueSink sink;
  EXPECT_EQ(FindWindow("MainWindow"), 0u);
  HWND hwnd = RegisterTopLevelWindow("MainWindow", &sink);
  ASSERT_NE(hwnd, 0u);
  EXPECT_EQ(FindWindow("mainwindow"), hwnd);
  EXPECT_TRUE(PostMessage(hwnd, WM_USER + 200, 3, 7));
  EXPECT_TRUE(SetForegroundWindow(hwnd));
  MessageQueueSink::Message m;
  ASSERT_TRUE(sink.Get(&m, 1000));
  EXPECT_EQ(m.msg, WM_USER + 200);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(m.lParam, 7);
  ASSERT_TRUE(sink.Get(&m, 1000));
  EXPECT_EQ(m.msg, WM_PLATFORM_FOREGROUND);
  DestroyTopLevelWindow(hwnd);
  EXPECT_EQ(FindWindow("MainWindow"), 0u);
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
}

// Messages posted by other processes arrive once each, in the order they were posted.
TEST_F(WindowTest, MessagesFromAnotherProcessArriveOnceInOrder) {
  MessageQueueSink sink;
  HWND hwnd = RegisterTopLevelWindow("MainWindow", &sink);
  ASSERT_NE(hwnd, 0u);
  for (int i = 1; i <= 5; ++i) {
    ASSERT_EQ(
        dev.Console({"post", "MainWindow", "1224", std::to_string(i), "-" + std::to_string(i)}), 0);
  }
  for (int i = 1; i <= 5; ++i) {
    MessageQueueSink::Message m;
    ASSERT_TRUE(sink.Get(&m, 5000)) << i;
    EXPECT_EQ(m.msg, 1224u);
    EXPECT_EQ(m.wParam, static_cast<WPARAM>(i));
    EXPECT_EQ(m.lParam, -i);
  }
  // Nothing more came: the next message is one posted after them.
  ASSERT_EQ(dev.Console({"post", "MainWindow", "1225", "0", "0"}), 0);
  MessageQueueSink::Message next;
  ASSERT_TRUE(sink.Get(&next, 5000));
  EXPECT_EQ(next.msg, 1225u);
  std::string err;
  EXPECT_NE(dev.Console({"post", "NoSuchWindow", "1", "0", "0"}, nullptr, &err), 0);
  EXPECT_NE(err.find("NoSuchWindow"), std::string::npos);
  DestroyTopLevelWindow(hwnd);
}

// What the screen shows: the top-most visible window under a point, one active window on the
// device, the window in front taking the keys when the active one goes.
TEST_F(WindowTest, ScreenStateStacksWindowsAndFindsThemByPoint) {
  MessageQueueSink sinkA, sinkB;
  HWND a = RegisterTopLevelWindow("A", &sinkA);
  HWND b = RegisterTopLevelWindow("B", &sinkB);
  WindowState full{"Full", true, true, 0, 0, 240, 320, true};
  WindowState box{"Box", true, true, 20, 40, 100, 50, false};
  ASSERT_TRUE(SetWindowState(b, box, false));
  // A is shown after B: it comes above it and covers it.
  ASSERT_TRUE(SetWindowState(a, full, true));
  EXPECT_EQ(WindowFromPoint(30, 50), a);
  EXPECT_EQ(ActiveWindow(), a);

  box.active = true;
  ASSERT_TRUE(SetWindowState(b, box, true));
  EXPECT_EQ(WindowFromPoint(20, 40), b);
  EXPECT_EQ(WindowFromPoint(119, 89), b);
  EXPECT_EQ(WindowFromPoint(120, 90), a);
  EXPECT_EQ(WindowFromPoint(240, 0), 0u);
  EXPECT_EQ(WindowFromPoint(-1, 10), 0u);
  auto windows = ListWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].hwnd, b);
  EXPECT_EQ(windows[0].className, "B");
  EXPECT_EQ(windows[0].state, box);
  EXPECT_FALSE(windows[1].state.active);
  EXPECT_EQ(ActiveWindow(), b);

  // Hidden, B neither takes taps nor keys; A, in front now, takes the keys though not active.
  box.visible = false;
  box.active = false;
  ASSERT_TRUE(SetWindowState(b, box, false));
  EXPECT_EQ(WindowFromPoint(30, 50), a);
  EXPECT_EQ(ActiveWindow(), a);
  full.visible = false;
  ASSERT_TRUE(SetWindowState(a, full, false));
  EXPECT_EQ(WindowFromPoint(30, 50), 0u);
  EXPECT_EQ(ActiveWindow(), 0u);

  DestroyTopLevelWindow(b);
  EXPECT_FALSE(SetWindowState(b, box, true));
  EXPECT_EQ(ListWindows().size(), 1u);
  DestroyTopLevelWindow(a);
}

TEST_F(WindowTest, RegisteredMessagesAreStablePerName) {
  UINT a = RegisterWindowMessage("CONNMGR_STATUS_CHANGE_NOTIFICATION_MSG");
  UINT b = RegisterWindowMessage("OTHER_MESSAGE");
  EXPECT_GE(a, REGISTERED_MESSAGE_FIRST);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterWindowMessage("connmgr_status_change_notification_msg"), a);
}

TEST(MsgQueueTest, NamedQueueConnectsReaderAndWriter) {
  MSGQUEUEOPTIONS r;
  r.cbMaxMessage = 8;
  r.bReadAccess = 1;
  MSGQUEUEOPTIONS w = r;
  w.bReadAccess = 0;
  HMSGQUEUE reader = CreateMsgQueue("Q1", r);
  BYTE buf[8];
  DWORD n;
  EXPECT_EQ(ReadMsgQueue(reader, buf, sizeof buf, &n, 1000), ERROR_PIPE_NOT_CONNECTED);
  HMSGQUEUE writer = CreateMsgQueue("Q1", w);
  EXPECT_EQ(ReadMsgQueue(reader, buf, sizeof buf, &n, 10), ERROR_TIMEOUT);
  EXPECT_EQ(WriteMsgQueue(writer, "abc", 3, 0), ERROR_SUCCESS);
  EXPECT_EQ(WriteMsgQueue(writer, "too long!", 9, 0), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(ReadMsgQueue(reader, buf, 2, &n, 0), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_EQ(ReadMsgQueue(reader, buf, sizeof buf, &n, 0), ERROR_SUCCESS);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
  // A writer cannot use the read end and the reverse.
  EXPECT_EQ(ReadMsgQueue(writer, buf, sizeof buf, &n, 0), ERROR_INVALID_HANDLE);
  // Without ALLOW_BROKEN a write with no reader fails.
  CloseMsgQueue(reader);
  EXPECT_EQ(WriteMsgQueue(writer, "x", 1, 0), ERROR_PIPE_NOT_CONNECTED);
  CloseMsgQueue(writer);
}

TEST(MsgQueueTest, BoundedQueueTimesOutWhenFull) {
  MSGQUEUEOPTIONS r;
  r.cbMaxMessage = 4;
  r.dwMaxMessages = 1;
  HMSGQUEUE reader = CreateMsgQueue("", r);
  HMSGQUEUE writer = OpenMsgQueue(reader, 0);
  EXPECT_EQ(WriteMsgQueue(writer, "a", 1, 0), ERROR_SUCCESS);
  EXPECT_EQ(WriteMsgQueue(writer, "b", 1, 20), ERROR_TIMEOUT);
  CloseMsgQueue(writer);
  BYTE buf[4];
  DWORD n;
  // What was written before the writer left is still read, then the queue reports it.
  EXPECT_EQ(ReadMsgQueue(reader, buf, sizeof buf, &n, 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadMsgQueue(reader, buf, sizeof buf, &n, 0), ERROR_PIPE_NOT_CONNECTED);
  CloseMsgQueue(reader);
}

}  // namespace

namespace {

// A change made by another process reaches every subscriber of this one.
TEST(HardwareEventTest, BroadcastReachesSubscribersOfEveryProcess) {
  TestDevice dev;
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> seen;
  int sub = platform::SubscribeHardwareEvent("test.event",
                                             [&](const std::string& e, const std::string& p) {
                                               std::lock_guard lock(m);
                                               seen.push_back(e + ":" + p);
                                               cv.notify_all();
                                             });
  platform::SubscribeHardwareEvent("other.event", [&](const std::string&, const std::string&) {
    std::lock_guard lock(m);
    seen.push_back("wrong");
  });
  EXPECT_GE(platform::BroadcastHardwareEvent("test.event", "1 2"), 1);
  std::unique_lock lock(m);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return !seen.empty(); }));
  EXPECT_EQ(seen, std::vector<std::string>{"test.event:1 2"});
  lock.unlock();
  platform::UnsubscribeHardwareEvent(sub);
}

}  // namespace

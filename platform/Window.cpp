#include "platform/Window.h"

#include <chrono>
#include <map>

#include "platform/Device.h"
#include "platform/Endpoint.h"

namespace platform {

namespace {

std::mutex g_windowsMutex;
std::map<HWND, IWindowSink*> g_localWindows;

// Delivers to a window of this process; false when it is not one of ours.
bool DeliverLocal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(g_windowsMutex);
  auto it = g_localWindows.find(hwnd);
  if (it == g_localWindows.end())
    return false;
  it->second->OnWindowMessage(msg, wParam, lParam);
  return true;
}

void OnPacket(const std::vector<std::uint8_t>& payload) {
  Unpacker in(payload);
  HWND hwnd = in.U64();
  UINT msg = in.U32();
  WPARAM wParam = static_cast<WPARAM>(in.U64());
  LPARAM lParam = static_cast<LPARAM>(in.I64());
  if (in.Ok())
    DeliverLocal(hwnd, msg, wParam, lParam);
}

BOOL Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Device* dev = Device::Current();
  if (!dev || hwnd == 0)
    return 0;
  if (DeliverLocal(hwnd, msg, wParam, lParam))
    return 1;
  int pid = WindowProcess(hwnd);
  if (pid == 0 || pid == dev->endpoint().Pid())
    return 0;
  Packer packer;
  packer.U64(hwnd).U32(msg).U64(static_cast<std::uint64_t>(wParam)).I64(lParam);
  return dev->endpoint().Send(pid, PacketKind::kWindowMessage, packer.Data()) ? 1 : 0;
}

}  // namespace

HWND RegisterTopLevelWindow(std::string_view className, IWindowSink* sink) {
  Device* dev = Device::Current();
  if (!dev || !sink)
    return 0;
  HWND hwnd = 0;
  Store& store = dev->store();
  store.Transaction([&] {
    store.Prepare("INSERT INTO windows(class,pid) VALUES(?,?)")
        .Bind(1, std::string(className))
        .Bind(2, dev->endpoint().Pid())
        .Run();
    hwnd = static_cast<HWND>(store.LastInsertId());
  });
  std::lock_guard lock(g_windowsMutex);
  g_localWindows[hwnd] = sink;
  return hwnd;
}

void DestroyTopLevelWindow(HWND hwnd) {
  {
    std::lock_guard lock(g_windowsMutex);
    g_localWindows.erase(hwnd);
  }
  if (Device* dev = Device::Current()) {
    dev->store()
        .Prepare("DELETE FROM windows WHERE hwnd=?")
        .Bind(1, static_cast<std::int64_t>(hwnd))
        .Run();
  }
}

HWND FindWindow(std::string_view className) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  for (;;) {
    HWND hwnd = 0;
    int pid = 0;
    {
      auto st = dev->store().Prepare(
          "SELECT hwnd, pid FROM windows WHERE class=? ORDER BY hwnd DESC LIMIT 1");
      st.Bind(1, std::string(className));
      if (!st.Step())
        return 0;
      hwnd = static_cast<HWND>(st.Int(0));
      pid = static_cast<int>(st.Int(1));
    }
    if (Endpoint::ProcessAlive(pid))
      return hwnd;
    Endpoint::PruneDead(*dev);
  }
}

int WindowProcess(HWND hwnd) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  auto st = dev->store().Prepare("SELECT pid FROM windows WHERE hwnd=?");
  st.Bind(1, static_cast<std::int64_t>(hwnd));
  return st.Step() ? static_cast<int>(st.Int(0)) : 0;
}

bool IsWindow(HWND hwnd) {
  int pid = WindowProcess(hwnd);
  return pid != 0 && Endpoint::ProcessAlive(pid);
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return Post(hwnd, msg, wParam, lParam);
}

BOOL ShowWindow(HWND hwnd, int showCommand) {
  return Post(hwnd, WM_PLATFORM_SHOW, static_cast<WPARAM>(showCommand), 0);
}

BOOL SetForegroundWindow(HWND hwnd) {
  return Post(hwnd, WM_PLATFORM_FOREGROUND, 0, 0);
}

UINT RegisterWindowMessage(std::string_view name) {
  Device* dev = Device::Current();
  if (!dev || name.empty())
    return 0;
  Store& store = dev->store();
  UINT number = 0;
  store.Transaction([&] {
    {
      auto st = store.Prepare("SELECT number FROM window_messages WHERE name=?");
      st.Bind(1, std::string(name));
      if (st.Step()) {
        number = static_cast<UINT>(st.Int(0));
        return;
      }
    }
    {
      auto st = store.Prepare("SELECT COALESCE(MAX(number)+1, ?) FROM window_messages");
      st.Bind(1, static_cast<std::int64_t>(REGISTERED_MESSAGE_FIRST));
      st.Step();
      number = static_cast<UINT>(st.Int(0));
    }
    store.Prepare("INSERT INTO window_messages(name,number) VALUES(?,?)")
        .Bind(1, std::string(name))
        .Bind(2, static_cast<std::int64_t>(number))
        .Run();
  });
  return number;
}

void MessageQueueSink::OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  // Notified under the lock: once a reader has taken the message, the delivering thread is done
  // with the sink, so the reader may destroy it.
  std::lock_guard lock(mutex_);
  messages_.push_back({msg, wParam, lParam});
  ready_.notify_one();
}

bool MessageQueueSink::Get(Message* out, DWORD timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return !messages_.empty(); })) {
    return false;
  }
  *out = messages_.front();
  messages_.pop_front();
  return true;
}

std::size_t MessageQueueSink::Size() {
  std::lock_guard lock(mutex_);
  return messages_.size();
}

void InstallWindowHandlers(Device& device) {
  device.endpoint().SetHandler(PacketKind::kWindowMessage, OnPacket);
}

void ResetLocalWindows() {
  std::lock_guard lock(g_windowsMutex);
  g_localWindows.clear();
}

}  // namespace platform

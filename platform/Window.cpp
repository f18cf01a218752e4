#include "platform/Window.h"

#include <chrono>
#include <map>
#include <set>
#include <utility>

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
    // A new window opens above the others.
    store
        .Prepare(
            "INSERT INTO windows(class,pid,z) VALUES(?,?,(SELECT COALESCE(MAX(z),0)+1 FROM "
            "windows))")
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

bool SetWindowState(HWND hwnd, const WindowState& state, bool toTop) {
  Device* dev = Device::Current();
  if (!dev || hwnd == 0)
    return false;
  Store& store = dev->store();
  bool found = false;
  const auto id = static_cast<std::int64_t>(hwnd);
  store.Transaction([&] {
    store
        .Prepare(
            "UPDATE windows SET title=?, visible=?, enabled=?, x=?, y=?, width=?, height=?, "
            "active=? WHERE hwnd=?")
        .Bind(1, state.title)
        .Bind(2, state.visible ? 1 : 0)
        .Bind(3, state.enabled ? 1 : 0)
        .Bind(4, state.x)
        .Bind(5, state.y)
        .Bind(6, state.width)
        .Bind(7, state.height)
        .Bind(8, state.active ? 1 : 0)
        .Bind(9, id)
        .Run();
    found = store.Changes() > 0;
    if (!found)
      return;
    if (toTop) {
      store
          .Prepare(
              "UPDATE windows SET z=(SELECT MAX(z)+1 FROM windows) WHERE hwnd=? AND EXISTS("
              "SELECT 1 FROM windows o WHERE o.hwnd<>windows.hwnd AND o.z>=windows.z)")
          .Bind(1, id)
          .Run();
    }
    if (state.active)
      store.Prepare("UPDATE windows SET active=0 WHERE hwnd<>? AND active<>0").Bind(1, id).Run();
  });
  return found;
}

std::vector<WindowInfo> ListWindows() {
  std::vector<WindowInfo> windows;
  Device* dev = Device::Current();
  if (!dev)
    return windows;
  Endpoint::PruneDead(*dev);
  auto st = dev->store().Prepare(
      "SELECT hwnd, class, pid, title, visible, enabled, x, y, width, height, active FROM windows "
      "ORDER BY z DESC, hwnd DESC");
  while (st.Step()) {
    WindowInfo w;
    w.hwnd = static_cast<HWND>(st.Int(0));
    w.className = st.Text(1);
    w.pid = static_cast<int>(st.Int(2));
    w.state.title = st.Text(3);
    w.state.visible = st.Int(4) != 0;
    w.state.enabled = st.Int(5) != 0;
    w.state.x = static_cast<int>(st.Int(6));
    w.state.y = static_cast<int>(st.Int(7));
    w.state.width = static_cast<int>(st.Int(8));
    w.state.height = static_cast<int>(st.Int(9));
    w.state.active = st.Int(10) != 0;
    windows.push_back(std::move(w));
  }
  return windows;
}

HWND WindowFromPoint(int x, int y) {
  for (const WindowInfo& w : ListWindows()) {
    if (w.state.visible && w.state.Contains(x, y))
      return w.hwnd;
  }
  return 0;
}

HWND ActiveWindow() {
  HWND topMost = 0;
  for (const WindowInfo& w : ListWindows()) {
    if (!w.state.visible)
      continue;
    if (w.state.active)
      return w.hwnd;
    if (!topMost)
      topMost = w.hwnd;
  }
  // The active window went away (or was another program's): the window in front takes the keys.
  return topMost;
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
  // Stores created before windows had their screen state gain the columns, with the values of a
  // window that has not been shown yet.
  Store& store = device.store();
  store.Transaction([&] {
    std::set<std::string> columns;
    {
      auto st = store.Prepare("PRAGMA table_info(windows)");
      while (st.Step())
        columns.insert(st.Text(1));
    }
    const std::pair<const char*, const char*> kStateColumns[] = {
        {"title", "TEXT NOT NULL DEFAULT ''"},     {"visible", "INTEGER NOT NULL DEFAULT 0"},
        {"enabled", "INTEGER NOT NULL DEFAULT 1"}, {"x", "INTEGER NOT NULL DEFAULT 0"},
        {"y", "INTEGER NOT NULL DEFAULT 0"},       {"width", "INTEGER NOT NULL DEFAULT 0"},
        {"height", "INTEGER NOT NULL DEFAULT 0"},  {"z", "INTEGER NOT NULL DEFAULT 0"},
        {"active", "INTEGER NOT NULL DEFAULT 0"}};
    for (const auto& [name, type] : kStateColumns) {
      if (!columns.count(name))
        store.Exec(std::string("ALTER TABLE windows ADD COLUMN ") + name + " " + type);
    }
  });
  device.endpoint().SetHandler(PacketKind::kWindowMessage, OnPacket);
}

void ResetLocalWindows() {
  std::lock_guard lock(g_windowsMutex);
  g_localWindows.clear();
}

}  // namespace platform

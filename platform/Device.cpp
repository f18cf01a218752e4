#include "platform/Device.h"

#include <cstdlib>
#include <mutex>

#include "platform/BaseRegistry.h"
#include "platform/Endpoint.h"
#include "platform/HardwareEvents.h"
#include "platform/MsgQueue.h"
#include "platform/Registry.h"
#include "platform/Time.h"
#include "platform/Window.h"

namespace platform {

namespace {

std::mutex g_deviceMutex;
std::unique_ptr<Device> g_device;

const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS reg_keys(
  id INTEGER PRIMARY KEY,
  root INTEGER NOT NULL,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  path TEXT NOT NULL,
  UNIQUE(root, path));
CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(parent);
CREATE TABLE IF NOT EXISTS reg_values(
  id INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL REFERENCES reg_keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data,
  UNIQUE(key_id, name));
CREATE TABLE IF NOT EXISTS reg_watches(
  id INTEGER PRIMARY KEY,
  root INTEGER NOT NULL,
  path TEXT NOT NULL,
  value TEXT NOT NULL COLLATE NOCASE,
  mask INTEGER NOT NULL,
  pid INTEGER NOT NULL,
  mode INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS reg_watches_target ON reg_watches(root, path);
CREATE TABLE IF NOT EXISTS endpoints(
  pid INTEGER PRIMARY KEY, address TEXT NOT NULL, role TEXT NOT NULL, started TEXT NOT NULL);
-- InstallWindowHandlers adds the windows' screen state columns (title, geometry, z, ...).
CREATE TABLE IF NOT EXISTS windows(
  hwnd INTEGER PRIMARY KEY AUTOINCREMENT, class TEXT NOT NULL COLLATE NOCASE, pid INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS window_messages(
  name TEXT PRIMARY KEY COLLATE NOCASE, number INTEGER NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS notifications(
  handle INTEGER PRIMARY KEY AUTOINCREMENT,
  app TEXT NOT NULL,
  args TEXT NOT NULL,
  due TEXT NOT NULL,
  due_ms INTEGER NOT NULL,
  created TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS notifications_due ON notifications(due_ms);
CREATE TABLE IF NOT EXISTS hardware(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS activity(
  id INTEGER PRIMARY KEY, time TEXT NOT NULL, kind TEXT NOT NULL, detail TEXT NOT NULL);
)SQL";

// Splits a device path on either slash into its non-empty parts, dropping "." and "..".
std::vector<std::string> PathParts(std::string_view path) {
  std::vector<std::string> parts;
  std::string cur;
  auto flush = [&] {
    if (!cur.empty() && cur != "." && cur != "..")
      parts.push_back(cur);
    cur.clear();
  };
  for (char c : path) {
    if (c == '\\' || c == '/') {
      flush();
    } else {
      cur.push_back(c);
    }
  }
  flush();
  return parts;
}

}  // namespace

std::filesystem::path Device::DefaultFolder() {
  if (const char* dev = std::getenv("TELVANE_DEVICE"); dev && *dev)
    return dev;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "telvane" / "device";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "/tmp") / ".local" / "share" / "telvane" / "device";
}

Device::Device(std::filesystem::path folder) : folder_(std::move(folder)) {
  std::filesystem::create_directories(folder_);
  std::filesystem::create_directories(FsRoot());
  store_ = std::make_unique<Store>(folder_ / "device.db");
  CreateSchema();
}

Device::~Device() {
  // The endpoint prunes this process's rows, so it goes before the store.
  endpoint_.reset();
  store_.reset();
}

void Device::CreateSchema() {
  store_->Transaction([&] {
    store_->Exec(kSchema);
    auto version = store_->GetMeta("schema_version");
    if (!version) {
      store_->SetMeta("schema_version", std::to_string(kSchemaVersion));
      store_->SetMeta("clock_offset_ms", "0");
      store_->SetMeta("created", FormatSystemTime(MsToSystemTime(Clock::HostLocalNowMs())));
      WriteBaseRegistry(*store_);
    } else if (std::stoi(*version) > kSchemaVersion) {
      throw StoreError("the device store was written by a newer version (schema " + *version + ")");
    }
  });
}

Device& Device::Open(const std::filesystem::path& folder) {
  std::lock_guard lock(g_deviceMutex);
  g_device.reset();
  std::unique_ptr<Device> dev(new Device(std::filesystem::absolute(folder)));
  dev->endpoint_ = std::make_unique<Endpoint>(*dev);
  g_device = std::move(dev);
  InstallWindowHandlers(*g_device);
  InstallRegistryHandlers(*g_device);
  InstallHardwareEventHandlers(*g_device);
  return *g_device;
}

Device& Device::OpenDefault() {
  {
    std::lock_guard lock(g_deviceMutex);
    if (g_device)
      return *g_device;
  }
  return Open(DefaultFolder());
}

Device* Device::Current() {
  return g_device.get();
}

void Device::Close() {
  std::lock_guard lock(g_deviceMutex);
  g_device.reset();
  ResetLocalWindows();
  ResetLocalWatches();
  ResetHardwareEventSubscriptions();
}

std::filesystem::path Device::ProgramFolder() const {
  return HostPath("\\Program Files\\Telvane");
}

std::filesystem::path Device::HostPath(std::string_view devicePath) const {
  std::filesystem::path p = FsRoot();
  for (const auto& part : PathParts(devicePath))
    p /= part;
  return p;
}

std::optional<std::filesystem::path> Device::ConfinedHostPath(std::string_view devicePath) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path root = fs::canonical(FsRoot(), ec);
  if (ec)
    return std::nullopt;
  // The deepest part that exists (a link counts, dangling or not) is resolved; nothing below a
  // part that does not exist can exist either.
  fs::path host = FsRoot();
  std::vector<std::string> parts = PathParts(devicePath);
  std::size_t existing = 0;
  for (; existing < parts.size(); ++existing) {
    fs::path next = host / parts[existing];
    if (!fs::exists(fs::symlink_status(next, ec)))
      break;
    host = std::move(next);
  }
  fs::path resolved = fs::canonical(host, ec);
  if (ec)
    return std::nullopt;
  fs::path rel = resolved.lexically_relative(root);
  if (rel.empty() || *rel.begin() == "..")
    return std::nullopt;
  for (std::size_t i = existing; i < parts.size(); ++i)
    host /= parts[i];
  return host;
}

std::optional<std::string> Device::DevicePath(const std::filesystem::path& hostPath) const {
  auto root = std::filesystem::weakly_canonical(FsRoot());
  auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(hostPath));
  auto rel = p.lexically_relative(root);
  if (rel.empty())
    return std::nullopt;
  std::string out;
  for (const auto& part : rel) {
    std::string s = part.string();
    if (s == "..")
      return std::nullopt;
    if (s == ".")
      continue;
    out += "\\" + s;
  }
  return out.empty() ? std::string("\\") : out;
}

std::int64_t Device::ClockOffsetMs() {
  auto v = store_->GetMeta("clock_offset_ms");
  return v ? std::stoll(*v) : 0;
}

void Device::SetClockOffsetMs(std::int64_t offsetMs) {
  store_->SetMeta("clock_offset_ms", std::to_string(offsetMs));
  // Whoever waits for device time must look at the clock again.
  int runner = endpoint_->FindRole("runner");
  if (runner)
    endpoint_->Send(runner, PacketKind::kWakeRunner, {});
}

std::optional<std::string> Device::GetState(const std::string& name) {
  auto st = store_->Prepare("SELECT value FROM hardware WHERE name=?");
  st.Bind(1, name);
  if (!st.Step())
    return std::nullopt;
  return st.Text(0);
}

std::int64_t Device::GetStateInt(const std::string& name, std::int64_t absent) {
  auto v = GetState(name);
  if (!v)
    return absent;
  try {
    return std::stoll(*v);
  } catch (const std::exception&) {
    return absent;
  }
}

void Device::SetState(const std::string& name, const std::string& value) {
  store_
      ->Prepare(
          "INSERT INTO hardware(name,value) VALUES(?,?) ON CONFLICT(name) DO UPDATE SET "
          "value=excluded.value")
      .Bind(1, name)
      .Bind(2, value)
      .Run();
}

void Device::SetStateInt(const std::string& name, std::int64_t value) {
  SetState(name, std::to_string(value));
}

std::vector<std::pair<std::string, std::string>> Device::AllState() {
  std::vector<std::pair<std::string, std::string>> out;
  auto st = store_->Prepare("SELECT name, value FROM hardware ORDER BY name");
  while (st.Step())
    out.emplace_back(st.Text(0), st.Text(1));
  return out;
}

std::int64_t Device::AddActivity(const std::string& kind, const std::string& detail) {
  std::int64_t id = 0;
  store_->Transaction([&] {
    store_->Prepare("INSERT INTO activity(time,kind,detail) VALUES(?,?,?)")
        .Bind(1, FormatSystemTime(Clock::LocalTime()))
        .Bind(2, kind)
        .Bind(3, detail)
        .Run();
    id = store_->LastInsertId();
  });
  return id;
}

std::vector<Device::Activity> Device::Activities(const std::string& kind) {
  std::vector<Activity> out;
  auto st =
      store_->Prepare("SELECT id,time,kind,detail FROM activity WHERE ?='' OR kind=? ORDER BY id");
  st.Bind(1, kind).Bind(2, kind);
  while (st.Step())
    out.push_back({st.Int(0), st.Text(1), st.Text(2), st.Text(3)});
  return out;
}

}  // namespace platform

// The simulated phone: a device folder holding the device store (device.db) and the phone's
// file system (fs/).
//
// One process opens one device, which becomes the process's current device; every platform
// service (registry, windows, notifications, hardware) works on it. Opening a device also
// brings up the process's endpoint, through which other processes of the same device reach it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Store.h"

namespace platform {

class Endpoint;

class Device {
 public:
  static constexpr int kSchemaVersion = 1;

  // `$TELVANE_DEVICE`, else `$XDG_DATA_HOME/telvane/device`, else
  // `~/.local/share/telvane/device`.
  static std::filesystem::path DefaultFolder();

  // Opens the device in `folder` (creating the folder, the store and the base registry on first
  // use) and makes it the current device of this process, closing any other. Throws StoreError
  // when the store cannot be opened.
  static Device& Open(const std::filesystem::path& folder);
  // Opens the default device when none is open yet.
  static Device& OpenDefault();
  // The current device, or null when none is open.
  static Device* Current();
  // Closes the current device: stops the endpoint and forgets this process's windows and
  // watches in the store.
  static void Close();

  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  // The root of the phone's file system.
  std::filesystem::path FsRoot() const { return folder_ / "fs"; }
  // The program folder "\Program Files\Telvane" on the host.
  std::filesystem::path ProgramFolder() const;

  // Maps a device path ("\Telvane.xml", "\Program Files\Telvane\log.txt") to the host path
  // under fs/. Backslashes and forward slashes both separate; ".." never leaves fs/.
  std::filesystem::path HostPath(std::string_view devicePath) const;
  // HostPath, or nullopt when that path leaves fs/ once symbolic links are followed: links in
  // the part that exists are resolved (a dangling one counts as leaving), the rest is taken as
  // written. For whoever hands the phone's files to the host or writes them from it.
  std::optional<std::filesystem::path> ConfinedHostPath(std::string_view devicePath) const;
  // Maps a host path under fs/ back to a device path; nullopt for a path outside fs/.
  std::optional<std::string> DevicePath(const std::filesystem::path& hostPath) const;

  Store& store() { return *store_; }
  Endpoint& endpoint() { return *endpoint_; }

  std::int64_t ClockOffsetMs();
  void SetClockOffsetMs(std::int64_t offsetMs);

  // Hardware state: named values that the simulated services keep ("radio", "cell_id", ...).
  std::optional<std::string> GetState(const std::string& name);
  std::int64_t GetStateInt(const std::string& name, std::int64_t absent = 0);
  void SetState(const std::string& name, const std::string& value);
  void SetStateInt(const std::string& name, std::int64_t value);
  // Every hardware state value, sorted by name.
  std::vector<std::pair<std::string, std::string>> AllState();

  // Appends a record of something the program did on the phone (a box shown, an SMS sent, a
  // file opened, ...). `detail` is free text, often JSON. Returns the record's id.
  std::int64_t AddActivity(const std::string& kind, const std::string& detail);
  struct Activity {
    std::int64_t id;
    std::string time;
    std::string kind;
    std::string detail;
  };
  // Records of the given kind (all kinds when empty), oldest first.
  std::vector<Activity> Activities(const std::string& kind = "");

 private:
  explicit Device(std::filesystem::path folder);
  void CreateSchema();

  std::filesystem::path folder_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<Endpoint> endpoint_;
};

}  // namespace platform

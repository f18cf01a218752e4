#include "platform/linux/LinuxPhone.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/Backlight.h"
#include "platform/Bluetooth.h"
#include "platform/Device.h"
#include "platform/Diagnostics.h"
#include "platform/HardwareEvents.h"
#include "platform/PhoneHardware.h"
#include "platform/PowerStatus.h"
#include "platform/Ras.h"
#include "platform/Registry.h"
#include "platform/Ril.h"
#include "platform/SimManager.h"
#include "platform/Sound.h"
#include "platform/Store.h"
#include "platform/Telephony.h"
#include "platform/Text.h"
#include "platform/WirelessDevices.h"
#include "platform/linux/SystemBus.h"

namespace platform::linuxphone {

namespace {

constexpr auto kModemTimeout = std::chrono::seconds(60);
constexpr const char* kSignalStrengthValue = "Signal Strength";
// NMDeviceType of a Wi-Fi device.
constexpr std::uint32_t kNMDeviceTypeWifi = 2;

using Modes = sdbus::Struct<std::uint32_t, std::uint32_t>;

// Each service's mirror is written by the bridge on a signal and by whoever just commanded the
// service. A read of the bus and its store into the device are one step under the service's
// MirrorLock: otherwise a read taken before a command could be stored after the command's own,
// fresher read, and the device would keep the old state with no signal left to mend it.
std::mutex g_modemSync;
std::mutex g_bluetoothSync;
std::mutex g_wifiSync;
std::mutex g_connectionsSync;
std::mutex g_batterySync;

struct ModemView {
  bool present = false;
  std::string path;
  int state = 0;
  std::uint32_t unlock = 0;
  std::uint32_t allowedModes = 0;
  std::uint32_t signalPercent = 0;
  std::string simPath;
  std::vector<Modes> supportedModes;
  bool hasLocation = false;
  bool hasUssd = false;
  std::optional<CellLocation> cell;
  int calls = 0;
};

std::optional<CellLocation> CellOf(const std::map<std::uint32_t, sdbus::Variant>& location) {
  auto it = location.find(kLocation3gppLacCi);
  if (it == location.end() || !it->second.containsValueOfType<std::string>())
    return std::nullopt;
  return ParseLacCi(it->second.get<std::string>());
}

// The first modem ModemManager exports; with `location`, its serving cell too, switching on the
// 3GPP location source with location signals where they are off.
ModemView ReadModem(sdbus::IConnection& bus, bool location) {
  ModemView m;
  if (!HasOwner(bus, kMMService))
    return m;
  for (const auto& [path, interfaces] : GetManagedObjects(bus, kMMService, kMMPath)) {
    auto modem = interfaces.find(kMMModem);
    if (modem == interfaces.end())
      continue;
    const Properties& p = modem->second;
    m.present = true;
    m.path = path;
    m.state = Get<std::int32_t>(p, "State", 0);
    m.unlock = Get<std::uint32_t>(p, "UnlockRequired", 0);
    m.allowedModes = Get<Modes>(p, "CurrentModes", Modes{0u, 0u}).get<0>();
    m.signalPercent =
        Get<sdbus::Struct<std::uint32_t, bool>>(p, "SignalQuality", {0u, false}).get<0>();
    m.simPath = Get<sdbus::ObjectPath>(p, "Sim", sdbus::ObjectPath("/"));
    m.supportedModes = Get<std::vector<Modes>>(p, "SupportedModes", {});
    m.hasUssd = interfaces.count(kMMUssd) != 0;
    if (auto voice = interfaces.find(kMMVoice); voice != interfaces.end())
      m.calls =
          static_cast<int>(Get<std::vector<sdbus::ObjectPath>>(voice->second, "Calls", {}).size());
    auto loc = interfaces.find(kMMLocation);
    m.hasLocation = loc != interfaces.end();
    if (location && m.hasLocation) {
      const Properties& lp = loc->second;
      auto enabled = Get<std::uint32_t>(lp, "Enabled", 0);
      bool signals = Get<bool>(lp, "SignalsLocation", false);
      std::map<std::uint32_t, sdbus::Variant> value;
      if (!(enabled & kLocation3gppLacCi) || !signals) {
        auto proxy = sdbus::createProxy(bus, kMMService, path);
        try {
          proxy->callMethod("Setup")
              .onInterface(kMMLocation)
              .withTimeout(kModemTimeout)
              .withArguments(enabled | kLocation3gppLacCi, true);
          proxy->callMethod("GetLocation")
              .onInterface(kMMLocation)
              .withTimeout(kModemTimeout)
              .storeResultsTo(value);
        } catch (const sdbus::Error& e) {
          // A modem not yet ready for the network refuses; it is set up at the next change.
          Diagnostic("modem location: %s", e.what());
        }
      } else {
        value = Get<std::map<std::uint32_t, sdbus::Variant>>(lp, "Location", {});
      }
      m.cell = CellOf(value);
    }
    break;
  }
  return m;
}

bool ReadModemOnce(ModemView* m, bool location) {
  return WithBus([&](sdbus::IConnection& bus) { *m = ReadModem(bus, location); });
}

// Writes a state value when it differs; true when it did.
bool Change(Device& dev, const char* name, const std::string& value) {
  if (dev.GetState(name) == value)
    return false;
  dev.SetState(name, value);
  return true;
}

void DeleteStatusValue() {
  HKEY key = 0;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, phone::kStatusKey, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValue(key, phone::kStatusValue);
  RegCloseKey(key);
}

void WriteRadioStatus(bool on) {
  DWORD status = 0;
  bool present =
      RegistryGetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, phone::kStatusValue, &status) == S_OK;
  DWORD next = on ? (status & ~phone::kStatusRadioOff) : (status | phone::kStatusRadioOff);
  if (!present || next != status)
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, phone::kStatusValue, next);
}

void MirrorSignal(Device& dev, unsigned percent) {
  int strength = PercentToDbm(percent);
  bool changed = false;
  dev.store().Transaction([&] {
    changed = dev.GetStateInt(ril::kSignalStrengthState, ril::kDefaultSignalMin) != strength ||
              !dev.GetState(ril::kSignalStrengthState);
    if (!changed)
      return;
    dev.SetStateInt(ril::kSignalStrengthState, strength);
    dev.SetStateInt(ril::kSignalMinState, ril::kDefaultSignalMin);
    dev.SetStateInt(ril::kSignalMaxState, ril::kDefaultSignalMax);
    dev.SetStateInt(ril::kSignalParamsState, RIL_PARAM_SQ_ALL);
  });
  if (!changed)
    return;
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, kSignalStrengthValue,
                   std::min<DWORD>(percent, 100));
  if (ril::RadioIsOn())
    BroadcastHardwareEvent(ril::kSignalEvent, std::to_string(strength));
}

void MirrorCell(Device& dev, const std::optional<CellLocation>& cell) {
  CellLocation now = cell.value_or(CellLocation{});
  bool changed = false;
  dev.store().Transaction([&] {
    changed = static_cast<DWORD>(dev.GetStateInt(ril::kCellIdState, 0)) != now.cellId ||
              static_cast<DWORD>(dev.GetStateInt(ril::kLacState, 0)) != now.lac;
    if (!changed)
      return;
    dev.SetStateInt(ril::kCellIdState, now.cellId);
    dev.SetStateInt(ril::kLacState, now.lac);
  });
  // Losing the cell is not a move: the radio tells the next cell when it finds one.
  if (changed && cell && ril::RadioIsOn()) {
    BroadcastHardwareEvent(ril::kLocationEvent,
                           std::to_string(now.cellId) + " " + std::to_string(now.lac));
  }
}

void MirrorModem(const ModemView& m) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  phone::EnsureState();
  if (!m.present) {
    // The status value goes first: whoever sees the radio absent finds no status of it either.
    DeleteStatusValue();
    dev->store().Transaction([&] {
      Change(*dev, phone::kRadioState, "absent");
      Change(*dev, phone::kNetworkState, "none");
    });
    MirrorCell(*dev, std::nullopt);
    return;
  }
  // A locked modem is up and waits for its PIN, as the simulated radio does at power-up.
  bool on = m.state >= kModemStateEnabled || m.state == kModemStateLocked;
  std::string radio = on ? "on" : "off";
  std::string sim = m.unlock == kLockSimPin ? "pin" : m.unlock == kLockSimPuk ? "puk" : "ready";
  std::string mode = m.allowedModes == kMode2G ? "2g" : m.allowedModes == kMode3G ? "3g" : "auto";
  bool registered = m.state >= kModemStateRegistered;
  bool radioChanged = false;
  bool simChanged = false;
  bool callsChanged = false;
  dev->store().Transaction([&] {
    radioChanged = Change(*dev, phone::kRadioState, radio);
    simChanged = Change(*dev, phone::kSimState, sim);
    Change(*dev, phone::kRadioModeState, mode);
    Change(*dev, phone::kNetworkState, registered ? "registered" : "none");
    if (registered)
      Change(*dev, phone::kNetworkModeState, mode);
    callsChanged = Change(*dev, phone::kActiveCallsState, std::to_string(m.calls));
  });
  // The cell and the signal first: a radio that comes on tells the cell it finds (the RIL
  // announces it when the radio's status turns on), not the one before.
  MirrorSignal(*dev, m.signalPercent);
  if (m.hasLocation)
    MirrorCell(*dev, on ? m.cell : std::nullopt);
  WriteRadioStatus(on);
  if (radioChanged)
    BroadcastHardwareEvent(phone::kRadioEvent, radio);
  if (simChanged) {
    phone::detail::OnSimChanged(sim);
    BroadcastHardwareEvent(phone::kSimEvent, sim);
  }
  if (callsChanged) {
    RegistrySetDWORD(HKEY_LOCAL_MACHINE, phone::kStatusKey, phone::kActiveCallCountValue,
                     static_cast<DWORD>(m.calls));
    BroadcastHardwareEvent(phone::kCallEvent, std::to_string(m.calls));
  }
}

// The supported combination for the band of "OpMode" (0 automatic, 1 2G, 2 3G): exactly 2G or
// 3G, or for automatic the one that allows the most modes; without preference where possible.
std::optional<Modes> ModesForBand(const std::vector<Modes>& supported) {
  DWORD opMode = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, phone::kBandKey, phone::kBandValue, &opMode);
  std::optional<Modes> best;
  auto better = [&](const Modes& candidate) {
    if (!best)
      return true;
    int bits = std::popcount(candidate.get<0>());
    int bestBits = std::popcount(best->get<0>());
    if (opMode != 1 && opMode != 2 && bits != bestBits)
      return bits > bestBits;
    return best->get<1>() != 0 && candidate.get<1>() == 0;
  };
  for (const Modes& modes : supported) {
    std::uint32_t allowed = modes.get<0>();
    if ((opMode == 1 && allowed != kMode2G) || (opMode == 2 && allowed != kMode3G))
      continue;
    if (better(modes))
      best = modes;
  }
  return best;
}

struct Adapter {
  std::string path;
  bool powered = false;
  bool discoverable = false;
};

std::optional<Adapter> ReadAdapter(sdbus::IConnection& bus) {
  if (!HasOwner(bus, kBluezService))
    return std::nullopt;
  for (const auto& [path, interfaces] : GetManagedObjects(bus, kBluezService, "/")) {
    auto it = interfaces.find(kBluezAdapter);
    if (it == interfaces.end())
      continue;
    return Adapter{path, Get<bool>(it->second, "Powered", false),
                   Get<bool>(it->second, "Discoverable", false)};
  }
  return std::nullopt;
}

// Wi-Fi as NetworkManager has it: nullopt without NetworkManager or a Wi-Fi device, else
// whether wireless is enabled.
std::optional<bool> ReadWifi(sdbus::IConnection& bus) {
  if (!HasOwner(bus, kNMService))
    return std::nullopt;
  auto proxy = sdbus::createProxy(bus, kNMService, kNMPath);
  std::vector<sdbus::ObjectPath> devices;
  proxy->callMethod("GetDevices").onInterface(kNMInterface).storeResultsTo(devices);
  bool wifi = false;
  for (const auto& path : devices) {
    auto type = GetProperty(bus, kNMService, path, kNMDevice, "DeviceType");
    if (type.containsValueOfType<std::uint32_t>() && type.get<std::uint32_t>() == kNMDeviceTypeWifi)
      wifi = true;
  }
  if (!wifi)
    return std::nullopt;
  return GetProperty(bus, kNMService, kNMPath, kNMInterface, "WirelessEnabled").get<bool>();
}

}  // namespace

MirrorLock::MirrorLock(std::mutex& mutex, const char* service) : lock_(mutex) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  std::filesystem::path file = dev->Folder() / (std::string(service) + ".mirror.lock");
  fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    Diagnostic("linux phone: cannot open %s: %s", file.c_str(), std::strerror(errno));
    return;
  }
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

MirrorLock::~MirrorLock() {
  // Closing the file lets the other processes in.
  if (fd_ >= 0)
    close(fd_);
}

std::optional<CellLocation> ParseLacCi(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  if (fields.size() < 4)
    return std::nullopt;
  auto hex = [](const std::string& field) -> std::optional<DWORD> {
    if (field.empty() || field.size() > 8)
      return std::nullopt;
    for (char c : field) {
      if (!std::isxdigit(static_cast<unsigned char>(c)))
        return std::nullopt;
    }
    return static_cast<DWORD>(std::stoul(field, nullptr, 16));
  };
  auto lac = hex(fields[2]);
  auto ci = hex(fields[3]);
  if (!lac || !ci)
    return std::nullopt;
  return CellLocation{*lac, *ci};
}

int PercentToDbm(unsigned percent) {
  unsigned p = std::min(percent, 100u);
  int range = ril::kDefaultSignalMax - ril::kDefaultSignalMin;
  return ril::kDefaultSignalMin + static_cast<int>((p * range + 50) / 100);
}

void SyncModem() {
  MirrorLock lock(g_modemSync, "modem");
  ModemView m;
  if (ReadModemOnce(&m, true))
    MirrorModem(m);
}

void SyncBluetooth() {
  MirrorLock lock(g_bluetoothSync, "bluetooth");
  std::optional<Adapter> adapter;
  if (!WithBus([&](sdbus::IConnection& bus) { adapter = ReadAdapter(bus); }))
    return;
  std::optional<DWORD> mode;
  if (adapter) {
    mode = !adapter->powered       ? BTH_POWER_OFF
           : adapter->discoverable ? BTH_DISCOVERABLE
                                   : BTH_CONNECTABLE;
  }
  bluetooth::detail::StoreMode(mode);
}

void SyncWifi() {
  MirrorLock lock(g_wifiSync, "wifi");
  std::optional<bool> enabled;
  if (!WithBus([&](sdbus::IConnection& bus) { enabled = ReadWifi(bus); }))
    return;
  std::vector<DWORD> states;
  if (enabled)
    states.push_back(*enabled ? WIRELESS_STATE_ON : WIRELESS_STATE_OFF);
  if (GetWifiAdapterStates() != states)
    SetWifiAdapterStates(states);
}

void SyncBattery() {
  MirrorLock lock(g_batterySync, "battery");
  bool present = false;
  double percentage = 0;
  bool onBattery = false;
  bool batteryPresent = false;
  bool ok = WithBus([&](sdbus::IConnection& bus) {
    if (!HasOwner(bus, kUPowerService))
      return;
    present = true;
    onBattery =
        Get<bool>(GetAll(bus, kUPowerService, kUPowerPath, kUPowerInterface), "OnBattery", false);
    Properties display = GetAll(bus, kUPowerService, kUPowerDisplayDevice, kUPowerDevice);
    batteryPresent = Get<bool>(display, "IsPresent", false);
    percentage = Get<double>(display, "Percentage", 0.0);
  });
  if (!ok || !present)
    return;
  // A machine without a battery runs on mains, always full.
  int percent =
      batteryPresent ? static_cast<int>(std::lround(std::clamp(percentage, 0.0, 100.0))) : 100;
  bool onMains = !batteryPresent || !onBattery;
  BatteryState now = GetBatteryState();
  if (now.percent != percent || now.onMains != onMains)
    SetBatteryState(percent, onMains);
  // The backlight follows the power source, as the phone's driver does.
  if (now.onMains != onMains) {
    BacklightLevels levels = GetBacklightLevels();
    ApplyBacklight(levels.battery, levels.ac);
  }
}

void SyncAll() {
  SyncModem();
  SyncBluetooth();
  SyncWifi();
  SyncConnections();
  SyncBattery();
}

bool SetRadioPower(bool on) {
  bool present = false;
  bool done = WithBus([&](sdbus::IConnection& bus) {
    ModemView m = ReadModem(bus, false);
    present = m.present;
    if (!present)
      return;
    // A locked modem is already as far up as it goes before its PIN.
    if (on && m.state == kModemStateLocked)
      return;
    auto proxy = sdbus::createProxy(bus, kMMService, m.path);
    if (on) {
      auto modes = ModesForBand(m.supportedModes);
      if (modes && modes->get<0>() != m.allowedModes) {
        try {
          proxy->callMethod("SetCurrentModes")
              .onInterface(kMMModem)
              .withTimeout(kModemTimeout)
              .withArguments(*modes);
        } catch (const sdbus::Error& e) {
          // The radio still comes up, in the band it had.
          Diagnostic("modem band: %s", e.what());
        }
      }
    }
    proxy->callMethod("Enable").onInterface(kMMModem).withTimeout(kModemTimeout).withArguments(on);
  });
  SyncModem();
  return done && present;
}

bool RegisterNetwork() {
  bool registered = false;
  WithBus([&](sdbus::IConnection& bus) {
    ModemView m = ReadModem(bus, false);
    if (!m.present || m.state < kModemStateEnabled)
      return;
    if (m.state < kModemStateRegistered) {
      auto proxy = sdbus::createProxy(bus, kMMService, m.path);
      // An empty operator id asks for automatic selection.
      proxy->callMethod("Register")
          .onInterface(kMMModem3gpp)
          .withTimeout(kModemTimeout)
          .withArguments(std::string());
      m = ReadModem(bus, false);
    }
    registered = m.state >= kModemStateRegistered;
  });
  SyncModem();
  return registered;
}

HRESULT UnlockSim(const std::string& pin) {
  HRESULT result = E_FAIL;
  std::string error;
  WithBus(
      [&](sdbus::IConnection& bus) {
        ModemView m = ReadModem(bus, false);
        if (!m.present || m.simPath.empty() || m.simPath == "/")
          return;
        if (m.unlock == kLockSimPuk) {
          result = SIM_E_SIMBLOCKED;
          return;
        }
        if (m.unlock != kLockSimPin) {
          result = S_OK;
          return;
        }
        if (!phone::IsPinFormat(pin)) {
          result = SIM_E_INCORRECTPASSWORD;  // refused before it costs an attempt
          return;
        }
        auto sim = sdbus::createProxy(bus, kMMService, m.simPath);
        result = SIM_E_INCORRECTPASSWORD;
        sim->callMethod("SendPin")
            .onInterface(kMMSim)
            .withTimeout(kModemTimeout)
            .withArguments(pin);
        result = S_OK;
        // The unlocked modem comes up as the simulated radio does after its PIN.
        auto modem = sdbus::createProxy(bus, kMMService, m.path);
        modem->callMethod("Enable")
            .onInterface(kMMModem)
            .withTimeout(kModemTimeout)
            .withArguments(true);
      },
      &error);
  if (error.size() >= 6 && error.compare(error.size() - 6, 6, "SimPuk") == 0)
    result = SIM_E_SIMBLOCKED;
  SyncModem();
  return result;
}

LONG SetCallForward(const std::string& number) {
  bool done = false;
  WithBus([&](sdbus::IConnection& bus) {
    ModemView m = ReadModem(bus, false);
    if (!m.present || !m.hasUssd || m.state < kModemStateRegistered)
      return;
    std::string code = number.empty() ? "##21#" : "**21*" + number + "#";
    auto proxy = sdbus::createProxy(bus, kMMService, m.path);
    std::string reply;
    proxy->callMethod("Initiate")
        .onInterface(kMMUssd)
        .withTimeout(kModemTimeout)
        .withArguments(code)
        .storeResultsTo(reply);
    done = true;
  });
  if (!done)
    return LINEERR_OPERATIONFAILED;
  if (Device* dev = Device::Current())
    dev->SetState(phone::kCallForwardState, number.empty() ? "off" : number);
  return 0;
}

int SetBluetoothMode(DWORD mode) {
  bool present = false;
  bool done = WithBus([&](sdbus::IConnection& bus) {
    auto adapter = ReadAdapter(bus);
    present = adapter.has_value();
    if (!present)
      return;
    auto set = [&](const char* name, const sdbus::Variant& value) {
      SetProperty(bus, kBluezService, adapter->path, kBluezAdapter, name, value);
    };
    if (mode == BTH_POWER_OFF) {
      // Off means not discoverable either when it next comes on, whoever switches it on.
      set("Discoverable", sdbus::Variant(false));
      set("Powered", sdbus::Variant(false));
      return;
    }
    set("Powered", sdbus::Variant(true));
    if (mode == BTH_DISCOVERABLE)
      set("DiscoverableTimeout", sdbus::Variant(std::uint32_t{0}));
    set("Discoverable", sdbus::Variant(mode == BTH_DISCOVERABLE));
  });
  SyncBluetooth();
  return done && present ? 0 : ERROR_GEN_FAILURE;
}

LONG SetWifiEnabled(bool on) {
  bool present = false;
  bool done = WithBus([&](sdbus::IConnection& bus) {
    present = HasOwner(bus, kNMService);
    if (present)
      SetProperty(bus, kNMService, kNMPath, kNMInterface, "WirelessEnabled", sdbus::Variant(on));
  });
  SyncWifi();
  return done && present ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
}

namespace {

using ConnectionSettings = std::map<std::string, Properties>;

// NMActiveConnectionState
constexpr std::uint32_t kActiveActivating = 1;
constexpr std::uint32_t kActiveActivated = 2;

struct Profile {
  std::string path;
  std::string id;
  std::string uuid;
  std::string type;
};

struct ActiveLink {
  std::string path;
  std::string id;
  std::uint32_t state = 0;
  std::uint64_t sent = 0;
  std::uint64_t received = 0;
};

std::vector<Profile> ReadProfiles(sdbus::IConnection& bus) {
  auto settings = sdbus::createProxy(bus, kNMService, kNMSettingsPath);
  std::vector<sdbus::ObjectPath> paths;
  settings->callMethod("ListConnections").onInterface(kNMSettings).storeResultsTo(paths);
  std::vector<Profile> profiles;
  for (const auto& path : paths) {
    auto connection = sdbus::createProxy(bus, kNMService, path);
    ConnectionSettings values;
    connection->callMethod("GetSettings").onInterface(kNMSettingsConnection).storeResultsTo(values);
    const Properties& c = values["connection"];
    Profile p{path, Get<std::string>(c, "id", ""), Get<std::string>(c, "uuid", ""),
              Get<std::string>(c, "type", "")};
    if (!p.id.empty() && p.type != "loopback")
      profiles.push_back(std::move(p));
  }
  return profiles;
}

std::vector<ActiveLink> ReadActiveLinks(sdbus::IConnection& bus) {
  std::vector<ActiveLink> links;
  auto paths = GetProperty(bus, kNMService, kNMPath, kNMInterface, "ActiveConnections")
                   .get<std::vector<sdbus::ObjectPath>>();
  for (const auto& path : paths) {
    Properties p = GetAll(bus, kNMService, path, kNMActive);
    ActiveLink link{path, Get<std::string>(p, "Id", ""), Get<std::uint32_t>(p, "State", 0)};
    auto devices = Get<std::vector<sdbus::ObjectPath>>(p, "Devices", {});
    if (!devices.empty()) {
      try {
        Properties stats = GetAll(bus, kNMService, devices.front(), kNMStatistics);
        // The counters move only while a refresh rate is set.
        if (Get<std::uint32_t>(stats, "RefreshRateMs", 0) == 0) {
          SetProperty(bus, kNMService, devices.front(), kNMStatistics, "RefreshRateMs",
                      sdbus::Variant(std::uint32_t{2000}));
        }
        link.sent = Get<std::uint64_t>(stats, "TxBytes", 0);
        link.received = Get<std::uint64_t>(stats, "RxBytes", 0);
      } catch (const sdbus::Error& e) {
        Diagnostic("connection statistics: %s", e.what());
      }
    }
    links.push_back(std::move(link));
  }
  return links;
}

std::string UpperGuid(const std::string& uuid) {
  std::string guid = "{";
  for (char c : uuid)
    guid += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return guid + "}";
}

}  // namespace

void SyncConnections() {
  MirrorLock lock(g_connectionsSync, "connections");
  bool present = false;
  std::vector<Profile> profiles;
  std::vector<ActiveLink> links;
  bool ok = WithBus([&](sdbus::IConnection& bus) {
    present = HasOwner(bus, kNMService);
    if (!present)
      return;
    profiles = ReadProfiles(bus);
    links = ReadActiveLinks(bus);
  });
  if (!ok || !present)
    return;
  std::vector<DialUpEntry> entries = ListDialUpEntries();
  for (const Profile& p : profiles) {
    bool known = std::any_of(entries.begin(), entries.end(),
                             [&](const DialUpEntry& e) { return EqualsNoCase(e.name, p.id); });
    std::string error;
    if (!known && !AddDialUpEntry(p.id, UpperGuid(p.uuid), true, &error))
      Diagnostic("connection profile %s: %s", p.id.c_str(), error.c_str());
    std::optional<DWORD> state;
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
    for (const ActiveLink& link : links) {
      if (link.id != p.id)
        continue;
      if (link.state == kActiveActivated)
        state = RASCS_Connected;
      else if (link.state == kActiveActivating)
        state = RASCS_ConnectDevice;
      sent = link.sent;
      received = link.received;
    }
    dialup::MirrorLink(p.id, state, sent, received);
  }
}

bool ActivateConnection(const std::string& entry) {
  bool found = false;
  bool ok = WithBus([&](sdbus::IConnection& bus) {
    for (const Profile& p : ReadProfiles(bus)) {
      if (!EqualsNoCase(p.id, entry))
        continue;
      found = true;
      auto manager = sdbus::createProxy(bus, kNMService, kNMPath);
      sdbus::ObjectPath active;
      manager->callMethod("ActivateConnection")
          .onInterface(kNMInterface)
          .withArguments(sdbus::ObjectPath(p.path), sdbus::ObjectPath("/"), sdbus::ObjectPath("/"))
          .storeResultsTo(active);
      return;
    }
  });
  return ok && found;
}

std::unique_ptr<MirrorLock> HoldConnections() {
  return std::make_unique<MirrorLock>(g_connectionsSync, "connections");
}

bool DeactivateConnection(const std::string& entry) {
  return WithBus([&](sdbus::IConnection& bus) {
    if (!HasOwner(bus, kNMService))
      return;
    for (const ActiveLink& link : ReadActiveLinks(bus)) {
      if (!EqualsNoCase(link.id, entry))
        continue;
      auto manager = sdbus::createProxy(bus, kNMService, kNMPath);
      manager->callMethod("DeactivateConnection")
          .onInterface(kNMInterface)
          .withArguments(sdbus::ObjectPath(link.path));
    }
  });
}

bool ApplyBacklight(DWORD battery, DWORD ac, const std::string& backlightClass) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(backlightClass, ec))
    names.push_back(entry.path().filename().string());
  if (names.empty())
    return false;
  std::sort(names.begin(), names.end());
  std::ifstream in(fs::path(backlightClass) / names.front() / "max_brightness");
  std::uint64_t maximum = 0;
  if (!(in >> maximum) || maximum == 0)
    return false;
  DWORD level = std::min(GetBatteryState().onMains ? ac : battery, kMaxBrightness);
  auto value = static_cast<std::uint32_t>(maximum * level / kMaxBrightness);
  return WithBus([&](sdbus::IConnection& bus) {
    auto session = sdbus::createProxy(bus, kLogindService, kLogindSessionPath);
    session->callMethod("SetBrightness")
        .onInterface(kLogindSession)
        .withArguments(std::string("backlight"), names.front(), value);
  });
}

std::optional<int> SoundProfileType() {
  std::string profile;
  bool ok = WithBus(
      [&](sdbus::IConnection& bus) {
        profile = GetProperty(bus, kFeedbackService, kFeedbackPath, kFeedbackInterface, "Profile")
                      .get<std::string>();
      },
      nullptr, BusKind::kSession);
  if (!ok)
    return std::nullopt;
  if (profile == "full")
    return SND_SOUNDTYPE_ON;
  if (profile == "quiet")
    return SND_SOUNDTYPE_VIBRATE;
  if (profile == "silent")
    return SND_SOUNDTYPE_NONE;
  return std::nullopt;
}

bool SetSoundProfile(int soundType) {
  std::string profile = soundType == SND_SOUNDTYPE_VIBRATE ? "quiet"
                        : soundType == SND_SOUNDTYPE_NONE  ? "silent"
                                                           : "full";
  return WithBus(
      [&](sdbus::IConnection& bus) {
        SetProperty(bus, kFeedbackService, kFeedbackPath, kFeedbackInterface, "Profile",
                    sdbus::Variant(profile));
      },
      nullptr, BusKind::kSession);
}

std::optional<bool> RequestPowerAction(const std::string& state) {
  const char* method = state == "suspend" ? "Suspend"
                       : state == "reset" ? "Reboot"
                       : state == "off"   ? "PowerOff"
                                          : nullptr;
  if (!method)
    return std::nullopt;
  return WithBus([&](sdbus::IConnection& bus) {
    auto proxy = sdbus::createProxy(bus, kLogindService, kLogindPath);
    // Not interactive: the program asks on the user's behalf, no prompt may appear.
    proxy->callMethod(method).onInterface(kLogindManager).withArguments(false);
  });
}

bool SendSms(const std::string& number, const std::string& text) {
  return WithBus([&](sdbus::IConnection& bus) {
    ModemView m = ReadModem(bus, false);
    if (!m.present)
      throw sdbus::Error("org.freedesktop.ModemManager1.Error.Core.NotFound", "no modem");
    auto modem = sdbus::createProxy(bus, kMMService, m.path);
    Properties properties{{"number", sdbus::Variant(number)}, {"text", sdbus::Variant(text)}};
    sdbus::ObjectPath path;
    modem->callMethod("Create")
        .onInterface(kMMMessaging)
        .withTimeout(kModemTimeout)
        .withArguments(properties)
        .storeResultsTo(path);
    auto sms = sdbus::createProxy(bus, kMMService, path);
    sms->callMethod("Send").onInterface(kMMSms).withTimeout(kModemTimeout);
  });
}

namespace {

// One header line's text: no line breaks, so nothing can start a header of its own.
std::string HeaderText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n')
      out += c;
  }
  return out;
}

std::string Base64(const std::string& data) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    unsigned n = (static_cast<unsigned char>(data[i]) << 16) |
                 (static_cast<unsigned char>(data[i + 1]) << 8) |
                 static_cast<unsigned char>(data[i + 2]);
    for (int shift : {18, 12, 6, 0})
      out += kAlphabet[(n >> shift) & 63];
  }
  if (i < data.size()) {
    unsigned n = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size())
      n |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string AddressList(const std::vector<std::string>& addresses) {
  std::string out;
  for (const auto& a : addresses)
    out += (out.empty() ? "" : ", ") + HeaderText(a);
  return out;
}

}  // namespace

std::string FormatMail(const Mail& mail) {
  std::string subject = HeaderText(mail.subject);
  bool ascii = std::all_of(subject.begin(), subject.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string text;
  if (!mail.to.empty())
    text += "To: " + AddressList(mail.to) + "\n";
  if (!mail.cc.empty())
    text += "Cc: " + AddressList(mail.cc) + "\n";
  if (!mail.bcc.empty())
    text += "Bcc: " + AddressList(mail.bcc) + "\n";
  // Text outside ASCII travels as an encoded word.
  text += "Subject: " + (ascii ? subject : "=?UTF-8?B?" + Base64(subject) + "?=") + "\n";
  text += "MIME-Version: 1.0\n";
  text += "Content-Type: text/plain; charset=UTF-8\n";
  text += "Content-Transfer-Encoding: 8bit\n\n";
  text += mail.body;
  if (text.back() != '\n')
    text += "\n";
  return text;
}

bool SendMail(const Mail& mail) {
  const char* configured = std::getenv("TELVANE_SENDMAIL");
  std::string mailer = configured && *configured ? configured : "/usr/sbin/sendmail";
  std::string message = FormatMail(mail);
  // A socket rather than a pipe: a mailer that stops reading makes the write fail
  // (MSG_NOSIGNAL) instead of raising SIGPIPE in the whole program.
  int input[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0)
    return false;
  pid_t pid = fork();
  if (pid < 0) {
    close(input[0]);
    close(input[1]);
    return false;
  }
  if (pid == 0) {
    dup2(input[0], STDIN_FILENO);
    execl(mailer.c_str(), mailer.c_str(), "-i", "-t", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(input[0]);
  bool written = true;
  for (std::size_t done = 0; done < message.size();) {
    ssize_t n = send(input[1], message.data() + done, message.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      written = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  close(input[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  bool ok = written && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!ok)
    Diagnostic("mailer %s failed (status %d)", mailer.c_str(), status);
  return ok;
}

}  // namespace platform::linuxphone

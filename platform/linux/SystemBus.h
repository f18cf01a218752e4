// Calls to the machine's system D-Bus for the Linux backend, through sdbus-c++.
//
// sdbus-c++ is the binding because it is maintained, packaged by Debian (libsdbus-c++-dev), is
// C++17 with value types for D-Bus variants, structs and dictionaries, and sits on systemd's
// sd-bus, which every Linux phone image already ships; its generic proxy needs no generated
// code, so each service's interface is written where it is used, from its published API.
//
// The system bus is the one sd-bus finds (DBUS_SYSTEM_BUS_ADDRESS, else the standard socket),
// so tests point it at a private bus with mock services.
//
// Threads: every call may be made from any thread; each thread has its own connection to each
// bus, opened on first use and opened again after it broke.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <map>
#include <string>

namespace platform::linuxphone {

// Service names, object paths and interfaces, as the services publish them.
inline constexpr const char* kMMService = "org.freedesktop.ModemManager1";
inline constexpr const char* kMMPath = "/org/freedesktop/ModemManager1";
inline constexpr const char* kMMModem = "org.freedesktop.ModemManager1.Modem";
inline constexpr const char* kMMModem3gpp = "org.freedesktop.ModemManager1.Modem.Modem3gpp";
inline constexpr const char* kMMUssd = "org.freedesktop.ModemManager1.Modem.Modem3gpp.Ussd";
inline constexpr const char* kMMLocation = "org.freedesktop.ModemManager1.Modem.Location";
inline constexpr const char* kMMVoice = "org.freedesktop.ModemManager1.Modem.Voice";
inline constexpr const char* kMMSim = "org.freedesktop.ModemManager1.Sim";
inline constexpr const char* kMMMessaging = "org.freedesktop.ModemManager1.Modem.Messaging";
inline constexpr const char* kMMSms = "org.freedesktop.ModemManager1.Sms";
inline constexpr const char* kBluezService = "org.bluez";
inline constexpr const char* kBluezAdapter = "org.bluez.Adapter1";
inline constexpr const char* kNMService = "org.freedesktop.NetworkManager";
inline constexpr const char* kNMPath = "/org/freedesktop/NetworkManager";
inline constexpr const char* kNMInterface = "org.freedesktop.NetworkManager";
inline constexpr const char* kNMDevice = "org.freedesktop.NetworkManager.Device";
inline constexpr const char* kNMStatistics = "org.freedesktop.NetworkManager.Device.Statistics";
inline constexpr const char* kNMSettingsPath = "/org/freedesktop/NetworkManager/Settings";
inline constexpr const char* kNMSettings = "org.freedesktop.NetworkManager.Settings";
inline constexpr const char* kNMSettingsConnection =
    "org.freedesktop.NetworkManager.Settings.Connection";
inline constexpr const char* kNMActive = "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr const char* kUPowerService = "org.freedesktop.UPower";
inline constexpr const char* kUPowerPath = "/org/freedesktop/UPower";
inline constexpr const char* kUPowerInterface = "org.freedesktop.UPower";
inline constexpr const char* kUPowerDisplayDevice = "/org/freedesktop/UPower/devices/DisplayDevice";
inline constexpr const char* kUPowerDevice = "org.freedesktop.UPower.Device";
inline constexpr const char* kFeedbackService = "org.sigxcpu.Feedback";
inline constexpr const char* kFeedbackPath = "/org/sigxcpu/Feedback";
inline constexpr const char* kFeedbackInterface = "org.sigxcpu.Feedback";
inline constexpr const char* kLogindService = "org.freedesktop.login1";
inline constexpr const char* kLogindPath = "/org/freedesktop/login1";
inline constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
inline constexpr const char* kLogindSessionPath = "/org/freedesktop/login1/session/auto";
inline constexpr const char* kLogindSession = "org.freedesktop.login1.Session";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;

// The system bus has the phone's hardware services; the user's session bus has the feedback
// daemon (sound profile), which runs per user.
enum class BusKind { kSystem, kSession };

// Runs `calls` with the process's connection to the bus. False when the bus cannot be reached
// or a call failed; `errorName` (when given) then receives the D-Bus error name.
bool WithBus(const std::function<void(sdbus::IConnection&)>& calls,
             std::string* errorName = nullptr, BusKind kind = BusKind::kSystem);

// Helpers for use inside WithBus; they throw sdbus::Error as the calls do.
bool HasOwner(sdbus::IConnection& bus, const std::string& service);
Properties GetAll(sdbus::IConnection& bus, const std::string& service, const std::string& path,
                  const std::string& interface);
sdbus::Variant GetProperty(sdbus::IConnection& bus, const std::string& service,
                           const std::string& path, const std::string& interface,
                           const std::string& name);
void SetProperty(sdbus::IConnection& bus, const std::string& service, const std::string& path,
                 const std::string& interface, const std::string& name,
                 const sdbus::Variant& value);
ManagedObjects GetManagedObjects(sdbus::IConnection& bus, const std::string& service,
                                 const std::string& path);

// A property of a dictionary read by GetAll, or `absent` when missing or of another type.
template <class T>
T Get(const Properties& properties, const std::string& name, T absent) {
  auto it = properties.find(name);
  if (it == properties.end() || !it->second.containsValueOfType<T>())
    return absent;
  return it->second.get<T>();
}

}  // namespace platform::linuxphone

// The phone services of the Linux backend: the machine's ModemManager, BlueZ, NetworkManager and
// UPower over the system D-Bus (platform/Backend.h chooses it per device).
//
// Reading is mirroring: each Sync function reads one service afresh and writes what changed into
// the same state the simulated phone keeps (hardware state values, registry state values,
// hardware events), so every reader above the platform and every process of the device works
// unchanged. A value that did not change is not written again, so that two processes syncing
// the same service announce a change once. The Bridge (Bridge.h) calls them when the services
// signal; the switches below call them after their change, so the caller reads its own change
// at once.
//
// A missing service reads as missing hardware: no modem removes the phone's "Status" value (the
// radio's manager then shows it disabled), no Bluetooth adapter makes the mode unreadable, no
// NetworkManager or Wi-Fi device leaves no Wi-Fi adapter.
//
// Threads: every function may be called from any thread of any process of the device.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace platform::linuxphone {

// ModemManager's values used here (MMModemState, MMModemLock, MMModemMode,
// MMModemLocationSource).
inline constexpr int kModemStateLocked = 2;
inline constexpr int kModemStateEnabled = 6;
inline constexpr int kModemStateRegistered = 8;
inline constexpr unsigned kLockSimPin = 2;
inline constexpr unsigned kLockSimPuk = 4;
inline constexpr unsigned kMode2G = 1u << 1;
inline constexpr unsigned kMode3G = 1u << 2;
inline constexpr unsigned kLocation3gppLacCi = 1u << 0;

// The serving cell of a 3GPP LAC/CI location string "MCC,MNC,LAC,CI[,TAC]" (LAC and CI in
// hexadecimal); nullopt for anything else.
struct CellLocation {
  DWORD lac = 0;
  DWORD cellId = 0;
};
std::optional<CellLocation> ParseLacCi(const std::string& text);

// Signal quality in percent as the strength in dBm within the simulated radio's limits.
int PercentToDbm(unsigned percent);

void SyncModem();
void SyncBluetooth();
void SyncWifi();
void SyncBattery();
void SyncAll();

// Modem: powers it up under the band of HKLM "\SOFTWARE\OEM\UMTS" "OpMode" (current modes set
// from the supported ones first) or down. False when there is no modem or it refused.
bool SetRadioPower(bool on);
// Registers on the network (automatic operator selection) unless already registered.
bool RegisterNetwork();
// Sends the PIN to the modem's SIM, then enables the modem as the unlocked phone does. S_OK,
// SIM_E_INCORRECTPASSWORD, SIM_E_SIMBLOCKED, or E_FAIL without a modem or SIM.
HRESULT UnlockSim(const std::string& pin);
// Unconditional call forwarding through the network's supplementary-service codes, sent as a
// USSD request: "**21*number#" registers and activates it, "##21#" erases it. 0, or
// LINEERR_OPERATIONFAILED when there is no modem or the network refused.
LONG SetCallForward(const std::string& number);

// Bluetooth adapter: powered and discoverable (discoverable without time limit). 0, or
// ERROR_GEN_FAILURE without an adapter or when BlueZ refused.
int SetBluetoothMode(DWORD mode);

// NetworkManager's WirelessEnabled. ERROR_SUCCESS, or ERROR_GEN_FAILURE when it refused or is
// missing.
LONG SetWifiEnabled(bool on);

// NetworkManager's connection profiles as the dial-up entries (named by their id, reaching the
// network of their UUID), their active connections as the entries' links, with the traffic of
// the link's first device from its statistics.
void SyncConnections();
// Activates the profile named `entry` (NetworkManager chooses the device). False when there is
// no such profile or it refused.
bool ActivateConnection(const std::string& entry);
// Deactivates the profile's active connection; true also when it has none.
bool DeactivateConnection(const std::string& entry);
// One service's mirror held for the current device. A read of the bus and its store into the
// device happen under it, so that a read taken before a change is stored before the change's
// own, never after. It is held against the other threads of the process (`mutex`) and against
// the device's other processes (a lock on "<service>.mirror.lock" in the device folder): the
// runner's bridge and the program that commands a service both mirror it.
class MirrorLock {
 public:
  MirrorLock(std::mutex& mutex, const char* service);
  ~MirrorLock();
  MirrorLock(const MirrorLock&) = delete;
  MirrorLock& operator=(const MirrorLock&) = delete;

 private:
  std::unique_lock<std::mutex> lock_;
  int fd_ = -1;
};

// Holds the mirror of the connections off while the caller changes a link on the bus and then
// in the device itself. SyncConnections must not be called while it is held.
std::unique_ptr<MirrorLock> HoldConnections();

// The backlight level in effect (the one for external power while the phone is on it, else
// the battery one; 0..kMaxBrightness) on the machine's first backlight below `backlightClass`,
// scaled to its max_brightness and set through logind's Session.SetBrightness, which needs no
// privileges. False without a backlight or when logind refused.
bool ApplyBacklight(DWORD battery, DWORD ac,
                    const std::string& backlightClass = "/sys/class/backlight");

// feedbackd's profile ("full", "quiet", "silent") as the sound setting: on (or a sound file)
// is full, vibrate is quiet, silent is silent. nullopt / false without the service or when it
// refused.
std::optional<int> SoundProfileType();
bool SetSoundProfile(int soundType);

// logind's power actions for the power states "suspend", "reset" (reboot) and "off" (power
// off), asked without interaction. nullopt for a state logind has no action for; else whether
// logind accepted it.
std::optional<bool> RequestPowerAction(const std::string& state);

// A text message through the modem: Messaging.Create with the number and text, then the new
// message's Send. False without a modem or when it refused.
bool SendSms(const std::string& number, const std::string& text);

// Mail through the machine's sendmail-compatible mailer ($TELVANE_SENDMAIL, else
// /usr/sbin/sendmail), given the message on its input with "-i -t": recipients come from the
// To, Cc and Bcc headers. Line breaks in addresses and the subject are dropped, so no text can
// add a header. False when the mailer could not be run or reported a failure.
struct Mail {
  std::vector<std::string> to;
  std::vector<std::string> cc;
  std::vector<std::string> bcc;
  std::string subject;
  std::string body;
};
bool SendMail(const Mail& mail);
// The message as given to the mailer.
std::string FormatMail(const Mail& mail);

}  // namespace platform::linuxphone

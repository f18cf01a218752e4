#include "platform/PhoneHardware.h"

#include <cctype>

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Registry.h"
#include "platform/SimManager.h"
#include "platform/Telephony.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform::phone {

namespace {

Device* Dev() {
  return Device::Current();
}

std::string ModeName(DWORD opMode, bool readable) {
  if (!readable)
    return "auto";
  switch (opMode) {
    case 1:
      return "2g";
    case 2:
      return "3g";
    default:
      return "auto";
  }
}

// The band the radio applies when it powers up.
std::string ReadBandMode() {
  DWORD value = 0;
  bool ok = RegistryGetDWORD(HKEY_LOCAL_MACHINE, kBandKey, kBandValue, &value) == S_OK;
  return ModeName(value, ok);
}

DWORD ReadStatus() {
  DWORD value = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, kStatusKey, kStatusValue, &value);
  return value;
}

// Registry values are written outside store transactions: a write notifies the watches.
void WriteRegistryDWORD(const char* value, DWORD data) {
  HKEY key = 0;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kStatusKey, &key) != ERROR_SUCCESS)
    return;
  RegSetDWORD(key, value, data);
  RegCloseKey(key);
}

void WriteRadioBit(bool on) {
  DWORD status = ReadStatus();
  DWORD next = on ? (status & ~kStatusRadioOff) : (status | kStatusRadioOff);
  if (next != status)
    WriteRegistryDWORD(kStatusValue, next);
}

std::string Get(Device& dev, const char* name, const std::string& absent = "") {
  auto v = dev.GetState(name);
  return v ? *v : absent;
}

// A ready SIM in a powered radio finds its network by itself when the radio runs in the band
// it was last registered in.
void AutoRegister(Device& dev) {
  if (Get(dev, kRadioState) == "on" && Get(dev, kSimState) == "ready" &&
      Get(dev, kRadioModeState) == Get(dev, kNetworkModeState)) {
    dev.SetState(kNetworkState, "registered");
  }
}

void SimChanged(const std::string& payload) {
  detail::OnSimChanged(payload);
  BroadcastHardwareEvent(kSimEvent, payload);
}

}  // namespace

void EnsureState() {
  Device* dev = Dev();
  if (!dev || dev->GetState(kFailTelephonyModeState))
    return;
  bool on = (ReadStatus() & kStatusRadioOff) == 0;
  std::string mode = ReadBandMode();
  DWORD calls = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, kStatusKey, kActiveCallCountValue, &calls);
  dev->store().Transaction([&] {
    auto setDefault = [&](const char* name, const std::string& value) {
      if (!dev->GetState(name))
        dev->SetState(name, value);
    };
    setDefault(kRadioState, on ? "on" : "off");
    setDefault(kRadioModeState, mode);
    setDefault(kNetworkModeState, mode);
    setDefault(kNetworkState, on ? "registered" : "none");
    setDefault(kSimState, "ready");
    setDefault(kSimPinState, "");
    setDefault(kSimAttemptsState, std::to_string(kSimAttempts));
    setDefault(kCallForwardState, "off");
    setDefault(kActiveCallsState, std::to_string(calls));
    setDefault(kFailTelephonyState, "0");
    // Written last: its presence marks the state as complete.
    setDefault(kFailTelephonyModeState, "now");
  });
}

bool RadioIsOn() {
  return (ReadStatus() & kStatusRadioOff) == 0;
}

bool SetRadioPower(bool on) {
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux())
    return linuxphone::SetRadioPower(on);
#endif
  Device* dev = Dev();
  if (!dev)
    return true;
  EnsureState();
  if (RadioIsOn() == on) {
    dev->SetState(kRadioState, on ? "on" : "off");
    return true;
  }
  std::string mode = ReadBandMode();
  bool locked = false;
  dev->store().Transaction([&] {
    if (on) {
      dev->SetState(kRadioState, "on");
      dev->SetState(kRadioModeState, mode);
      std::string sim = Get(*dev, kSimState, "ready");
      if (!Get(*dev, kSimPinState).empty() && sim != "puk") {
        dev->SetState(kSimState, "pin");
        locked = true;
      }
      dev->SetState(kNetworkState, "none");
      AutoRegister(*dev);
    } else {
      dev->SetState(kRadioState, "off");
      dev->SetState(kNetworkState, "none");
    }
  });
  WriteRadioBit(on);
  BroadcastHardwareEvent(kRadioEvent, on ? "on" : "off");
  if (locked)
    SimChanged("pin");
  return true;
}

bool RegisterNetwork() {
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux())
    return linuxphone::RegisterNetwork();
#endif
  Device* dev = Dev();
  if (!dev)
    return false;
  EnsureState();
  bool ok = false;
  dev->store().Transaction([&] {
    if (!RadioIsOn() || Get(*dev, kSimState) != "ready")
      return;
    dev->SetState(kNetworkState, "registered");
    dev->SetState(kNetworkModeState, Get(*dev, kRadioModeState, "auto"));
    ok = true;
  });
  return ok;
}

namespace {

// A phone state value, `absent` when no device is open or the value was never written.
std::string PhoneState(const char* name, const std::string& absent) {
  Device* dev = Dev();
  if (!dev)
    return absent;
  EnsureState();
  return Get(*dev, name, absent);
}

}  // namespace

std::string SimState() {
  return PhoneState(kSimState, "ready");
}

bool IsPinFormat(const std::string& pin) {
  if (pin.size() < 4 || pin.size() > 8)
    return false;
  for (unsigned char c : pin) {
    if (!std::isdigit(c))
      return false;
  }
  return true;
}

bool LockSim(const std::string& pin) {
  Device* dev = Dev();
  if (!dev || !IsPinFormat(pin))
    return false;
  EnsureState();
  dev->store().Transaction([&] {
    dev->SetState(kSimPinState, pin);
    dev->SetState(kSimState, "pin");
    dev->SetState(kSimAttemptsState, std::to_string(kSimAttempts));
    dev->SetState(kNetworkState, "none");
  });
  SimChanged("pin");
  return true;
}

void UserUnlockSim() {
  Device* dev = Dev();
  if (!dev)
    return;
  EnsureState();
  dev->store().Transaction([&] {
    dev->SetState(kSimState, "ready");
    dev->SetState(kSimAttemptsState, std::to_string(kSimAttempts));
    AutoRegister(*dev);
  });
  SimChanged(kSimUserUnlock);
}

HRESULT UnlockSimWithPin(const std::string& pin) {
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux())
    return linuxphone::UnlockSim(pin);
#endif
  Device* dev = Dev();
  if (!dev)
    return E_FAIL;
  EnsureState();
  HRESULT result = S_OK;
  std::string changedTo;
  dev->store().Transaction([&] {
    std::string sim = Get(*dev, kSimState, "ready");
    if (sim == "ready")
      return;
    if (sim == "puk") {
      result = SIM_E_SIMBLOCKED;
      return;
    }
    if (!IsPinFormat(pin)) {
      result = SIM_E_INCORRECTPASSWORD;
      return;
    }
    if (pin == Get(*dev, kSimPinState)) {
      dev->SetState(kSimState, "ready");
      dev->SetState(kSimAttemptsState, std::to_string(kSimAttempts));
      AutoRegister(*dev);
      changedTo = "ready";
      return;
    }
    std::int64_t left = dev->GetStateInt(kSimAttemptsState, kSimAttempts) - 1;
    if (left <= 0) {
      left = 0;
      dev->SetState(kSimState, "puk");
      changedTo = "puk";
    }
    dev->SetStateInt(kSimAttemptsState, left);
    result = SIM_E_INCORRECTPASSWORD;
  });
  if (!changedTo.empty())
    SimChanged(changedTo);
  return result;
}

int ActiveCalls() {
  Device* dev = Dev();
  if (!dev)
    return 0;
  EnsureState();
  return static_cast<int>(dev->GetStateInt(kActiveCallsState, 0));
}

bool StartCall(std::string* error) {
  Device* dev = Dev();
  if (!dev)
    return false;
  EnsureState();
  std::int64_t count = -1;
  dev->store().Transaction([&] {
    if (!RadioIsOn()) {
      *error = "the radio is off";
      return;
    }
    if (Get(*dev, kNetworkState) != "registered") {
      *error = "the phone is not registered on the network";
      return;
    }
    count = dev->GetStateInt(kActiveCallsState, 0) + 1;
    dev->SetStateInt(kActiveCallsState, count);
  });
  if (count < 0)
    return false;
  WriteRegistryDWORD(kActiveCallCountValue, static_cast<DWORD>(count));
  BroadcastHardwareEvent(kCallEvent, std::to_string(count));
  return true;
}

bool EndCall(std::string* error) {
  Device* dev = Dev();
  if (!dev)
    return false;
  EnsureState();
  std::int64_t count = -1;
  dev->store().Transaction([&] {
    std::int64_t now = dev->GetStateInt(kActiveCallsState, 0);
    if (now <= 0) {
      *error = "no call in progress";
      return;
    }
    count = now - 1;
    dev->SetStateInt(kActiveCallsState, count);
  });
  if (count < 0)
    return false;
  WriteRegistryDWORD(kActiveCallCountValue, static_cast<DWORD>(count));
  BroadcastHardwareEvent(kCallEvent, std::to_string(count));
  return true;
}

std::string CallForward() {
  return PhoneState(kCallForwardState, "off");
}

LONG SetCallForward(const std::string& number) {
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux())
    return linuxphone::SetCallForward(number);
#endif
  Device* dev = Dev();
  if (!dev)
    return LINEERR_OPERATIONFAILED;
  EnsureState();
  LONG result = LINEERR_OPERATIONFAILED;
  dev->store().Transaction([&] {
    if (!RadioIsOn() || Get(*dev, kNetworkState) != "registered")
      return;
    dev->SetState(kCallForwardState, number.empty() ? "off" : number);
    result = 0;
  });
  return result;
}

void SetTelephonyFailures(int count, bool inReply) {
  Device* dev = Dev();
  if (!dev)
    return;
  EnsureState();
  dev->store().Transaction([&] {
    dev->SetStateInt(kFailTelephonyState, count < 0 ? 0 : count);
    dev->SetState(kFailTelephonyModeState, inReply ? "reply" : "now");
  });
}

int PendingTelephonyFailures() {
  Device* dev = Dev();
  if (!dev)
    return 0;
  EnsureState();
  return static_cast<int>(dev->GetStateInt(kFailTelephonyState, 0));
}

bool TelephonyFailuresInReply() {
  Device* dev = Dev();
  if (!dev)
    return false;
  EnsureState();
  return Get(*dev, kFailTelephonyModeState) == "reply";
}

Failure TakeTelephonyFailure() {
  Device* dev = Dev();
  if (!dev)
    return Failure::kNone;
  EnsureState();
  Failure failure = Failure::kNone;
  dev->store().Transaction([&] {
    std::int64_t left = dev->GetStateInt(kFailTelephonyState, 0);
    if (left <= 0)
      return;
    dev->SetStateInt(kFailTelephonyState, left - 1);
    failure = Get(*dev, kFailTelephonyModeState) == "reply" ? Failure::kReply : Failure::kNow;
  });
  return failure;
}

}  // namespace platform::phone

#include "platform/Power.h"

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Store.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

struct StateName {
  DWORD flag;
  const char* word;
};

const StateName kStates[] = {
    {POWER_STATE_ON, "on"},       {POWER_STATE_OFF, "off"},   {POWER_STATE_CRITICAL, "critical"},
    {POWER_STATE_BOOT, "boot"},   {POWER_STATE_IDLE, "idle"}, {POWER_STATE_SUSPEND, "suspend"},
    {POWER_STATE_RESET, "reset"},
};

}  // namespace

const char* PowerStateWord(DWORD stateFlag) {
  for (const auto& s : kStates) {
    if (s.flag == stateFlag)
      return s.word;
  }
  return "";
}

DWORD PowerStateFromWord(std::string_view word) {
  for (const auto& s : kStates) {
    if (word == s.word)
      return s.flag;
  }
  return 0;
}

DWORD SetSystemPowerState(std::string_view stateName, DWORD stateFlags, DWORD options) {
  DWORD flag = stateName.empty() ? stateFlags : PowerStateFromWord(stateName);
  // Exactly one known state: the other bits of the word are not states.
  const char* word = PowerStateWord(flag);
  if (*word == '\0')
    return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
  Device* dev = Device::Current();
  if (!dev)
    return static_cast<DWORD>(ERROR_GEN_FAILURE);
  bool force = (options & POWER_FORCE) != 0;
#ifdef TELVANE_LINUX_BACKEND
  // The machine's session manager carries out what it has an action for.
  if (backend::IsLinux()) {
    if (auto accepted = linuxphone::RequestPowerAction(word); accepted && !*accepted)
      return static_cast<DWORD>(ERROR_GEN_FAILURE);
  }
#endif
  try {
    dev->store().Transaction([&] {
      if (flag == POWER_STATE_RESET) {
        dev->SetStateInt(kResetCountValue, dev->GetStateInt(kResetCountValue, 0) + 1);
        dev->SetState(kPowerStateValue, PowerStateWord(POWER_STATE_ON));
      } else {
        dev->SetState(kPowerStateValue, word);
      }
      dev->AddActivity("power", std::string("{\"state\":\"") + word +
                                    "\",\"force\":" + (force ? "true" : "false") + "}");
    });
  } catch (const StoreError&) {
    return static_cast<DWORD>(ERROR_GEN_FAILURE);
  }
  BroadcastHardwareEvent(kPowerEvent, word);
  return static_cast<DWORD>(ERROR_SUCCESS);
}

std::string GetSystemPowerStateWord() {
  Device* dev = Device::Current();
  if (!dev)
    return PowerStateWord(POWER_STATE_ON);
  try {
    return dev->GetState(kPowerStateValue).value_or(PowerStateWord(POWER_STATE_ON));
  } catch (const StoreError&) {
    return PowerStateWord(POWER_STATE_ON);
  }
}

}  // namespace platform

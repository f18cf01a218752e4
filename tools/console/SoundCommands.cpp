// sound, backlight and power: the phone's master sound setting, its backlight levels and its
// power state, shown or changed the way the phone's own settings change them.
#include <iostream>

#include "console/Console.h"
#include "platform/Backlight.h"
#include "platform/ControlPanel.h"
#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/Sound.h"

namespace console {
namespace {

using namespace platform;

// The file a phone plays when "sound file" names none.
constexpr const char* kDefaultSoundFile = "\\Windows\\Alarm1.wav";

int RunSound(const Args& args) {
  if (args.size() > 2)
    return Usage("sound");
  if (args.empty()) {
    SNDFILEINFO info;
    if (SndGetSound(SND_EVENT_ALL, &info) != S_OK)
      return Fail("the sound setting cannot be read");
    std::cout << SoundTypeWord(info.sstType) << "\n";
    return 0;
  }
  SNDFILEINFO info;
  if (!ParseSoundTypeWord(args[0], &info.sstType))
    return Fail("not a sound setting \"" + args[0] + "\" (on, vibrate, silent, file)");
  if (args.size() == 2 && info.sstType != SND_SOUNDTYPE_FILE)
    return Usage("sound");
  if (info.sstType == SND_SOUNDTYPE_FILE) {
    info.szPathName = args.size() == 2
                          ? args[1]
                          : Device::Current()->GetState("sound_file").value_or(kDefaultSoundFile);
  }
  HRESULT hr = SndSetSound(SND_EVENT_ALL, info, 1);
  if (hr == E_INVALIDARG)
    return Fail("not a sound file path \"" + info.szPathName + "\"");
  if (hr != S_OK)
    return Fail("the sound setting cannot be changed");
  BroadcastHardwareEvent("sound", SoundTypeWord(info.sstType));
  std::cout << SoundTypeWord(info.sstType) << "\n";
  return 0;
}

void ShowBacklight() {
  BacklightLevels levels = GetBacklightLevels();
  std::cout << levels.battery << "/" << levels.ac << "\n";
}

int RunBacklight(const Args& args) {
  if (args.empty()) {
    ShowBacklight();
    return 0;
  }
  if (args[0] == "page") {
    if (args.size() == 1) {
      std::cout << Device::Current()->GetState(kBacklightPageState).value_or("sliders") << "\n";
      return 0;
    }
    if (args.size() != 2 || (args[1] != "sliders" && args[1] != "plain" && args[1] != "none"))
      return Usage("backlight");
    Device::Current()->SetState(kBacklightPageState, args[1]);
    std::cout << args[1] << "\n";
    return 0;
  }
  if (args.size() != 2)
    return Usage("backlight");
  auto battery = ParseInt(args[0]);
  auto ac = ParseInt(args[1]);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& level = i == 0 ? battery : ac;
    if (!level || *level < 0 || *level > kMaxBrightness) {
      return Fail("not a backlight level (0 to " + std::to_string(kMaxBrightness) + "): \"" +
                  args[i] + "\"");
    }
  }
  // As the control panel does: the levels into the registry, then the driver's event.
  if (RegistrySetDWORD(HKEY_CURRENT_USER, kBacklightKey, kBatteryBrightnessValue,
                       static_cast<DWORD>(*battery)) != S_OK ||
      RegistrySetDWORD(HKEY_CURRENT_USER, kBacklightKey, kAcBrightnessValue,
                       static_cast<DWORD>(*ac)) != S_OK) {
    return Fail(std::string("cannot write the backlight levels under HKCU\\") + kBacklightKey);
  }
  SetNamedEvent(kBackLightChangeEvent);
  ShowBacklight();
  return 0;
}

int RunPower(const Args& args) {
  if (args.size() > 1)
    return Usage("power");
  if (args.size() == 1) {
    DWORD state = PowerStateFromWord(args[0]);
    if (!state)
      return Fail("not a power state \"" + args[0] + "\"");
    if (SetSystemPowerState("", state, POWER_FORCE) != static_cast<DWORD>(ERROR_SUCCESS))
      return Fail("the power state cannot be changed");
  }
  std::cout << GetSystemPowerStateWord() << "\n";
  return 0;
}

ConsoleCommand sound("sound", "sound [on|vibrate|silent|file [PATH]]",
                     "Shows or changes the master sound setting.", RunSound);
ConsoleCommand backlight("backlight", "backlight [BATTERY AC | page [sliders|plain|none]]",
                         "Shows or sets the backlight levels (0 to 10) on battery and on external "
                         "power; or how the control panel's backlight page is laid out.",
                         RunBacklight);
ConsoleCommand power("power", "power [on|off|critical|boot|idle|suspend|reset]",
                     "Shows or changes the phone's power state (reset starts it again).", RunPower);

}  // namespace
}  // namespace console

#include "platform/Sound.h"

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/Store.h"
#include "platform/Text.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/LinuxPhone.h"
#endif

namespace platform {

namespace {

constexpr const char* kSoundState = "sound";
constexpr const char* kSoundFileState = "sound_file";
constexpr const char* kWaveVolumeState = "wave_volume";

bool ValidType(int type) {
  return type >= SND_SOUNDTYPE_ON && type <= SND_SOUNDTYPE_NONE;
}

}  // namespace

const char* SoundTypeWord(SND_SOUNDTYPE type) {
  switch (type) {
    case SND_SOUNDTYPE_ON:
      return "on";
    case SND_SOUNDTYPE_FILE:
      return "file";
    case SND_SOUNDTYPE_VIBRATE:
      return "vibrate";
    case SND_SOUNDTYPE_NONE:
      return "silent";
  }
  return "";
}

bool ParseSoundTypeWord(std::string_view word, SND_SOUNDTYPE* out) {
  for (int t = SND_SOUNDTYPE_ON; t <= SND_SOUNDTYPE_NONE; ++t) {
    auto type = static_cast<SND_SOUNDTYPE>(t);
    if (word == SoundTypeWord(type)) {
      *out = type;
      return true;
    }
  }
  return false;
}

HRESULT SndGetSound(int soundEvent, SNDFILEINFO* out) {
  if (soundEvent != SND_EVENT_ALL || !out)
    return E_INVALIDARG;
  Device* dev = Device::Current();
  if (!dev)
    return E_FAIL;
  try {
    SND_SOUNDTYPE type = SND_SOUNDTYPE_ON;
    if (auto word = dev->GetState(kSoundState)) {
      if (!ParseSoundTypeWord(*word, &type))
        return E_FAIL;
    }
#ifdef TELVANE_LINUX_BACKEND
    // The machine's profile decides; a sound file chosen here stays while the profile is full.
    if (backend::IsLinux()) {
      auto profile = linuxphone::SoundProfileType();
      if (!profile)
        return E_FAIL;
      if (!(*profile == SND_SOUNDTYPE_ON && type == SND_SOUNDTYPE_FILE))
        type = static_cast<SND_SOUNDTYPE>(*profile);
    }
#endif
    SNDFILEINFO info;
    info.sstType = type;
    if (type == SND_SOUNDTYPE_FILE) {
      info.szPathName = dev->GetState(kSoundFileState).value_or("");
      std::string name = info.szPathName.substr(info.szPathName.find_last_of('\\') + 1);
      info.szDisplayName = name.substr(0, name.find_last_of('.'));
    }
    *out = std::move(info);
  } catch (const StoreError&) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT SndSetSound(int soundEvent, const SNDFILEINFO& info, BOOL suppressUI) {
  if (soundEvent != SND_EVENT_ALL || !ValidType(info.sstType))
    return E_INVALIDARG;
  if (info.sstType == SND_SOUNDTYPE_FILE && info.szPathName.empty())
    return E_INVALIDARG;
  if (Utf8Length(info.szPathName) > kSoundNameChars ||
      Utf8Length(info.szDisplayName) > kSoundNameChars) {
    return E_INVALIDARG;
  }
#ifdef TELVANE_LINUX_BACKEND
  if (backend::IsLinux() && !linuxphone::SetSoundProfile(info.sstType))
    return E_FAIL;
#endif
  Device* dev = Device::Current();
  if (!dev)
    return E_FAIL;
  try {
    dev->store().Transaction([&] {
      dev->SetState(kSoundState, SoundTypeWord(info.sstType));
      if (info.sstType == SND_SOUNDTYPE_FILE)
        dev->SetState(kSoundFileState, info.szPathName);
    });
  } catch (const StoreError&) {
    return E_FAIL;
  }
  return S_OK;
}

MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume) {
  if (device != 0)
    return MMSYSERR_INVALHANDLE;
  Device* dev = Device::Current();
  if (!dev)
    return MMSYSERR_ERROR;
  try {
    dev->store().Transaction([&] {
      dev->SetStateInt(kWaveVolumeState, volume);
      dev->AddActivity("wave_volume", "{\"volume\":" + std::to_string(volume) + "}");
    });
  } catch (const StoreError&) {
    return MMSYSERR_ERROR;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT device, DWORD* volume) {
  if (device != 0 || !volume)
    return MMSYSERR_INVALHANDLE;
  Device* dev = Device::Current();
  if (!dev)
    return MMSYSERR_ERROR;
  try {
    // A new phone plays at full volume on both channels.
    *volume = static_cast<DWORD>(dev->GetStateInt(kWaveVolumeState, 0xFFFFFFFFLL));
  } catch (const StoreError&) {
    return MMSYSERR_ERROR;
  }
  return MMSYSERR_NOERROR;
}

}  // namespace platform

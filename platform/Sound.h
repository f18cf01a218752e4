// The phone's sound service: the master sound setting (how every sound event of the phone
// sounds: normally, by vibrating, not at all, or with one sound file) and the wave-out volume.
//
// The setting lives in the device's hardware state, so that every process of the device sees a
// change at once: "sound" holds "on", "vibrate", "silent" or "file" (absent reads as "on", the
// setting of a new phone), "sound_file" the device path of the file while "sound" is "file".
// "wave_volume" holds the last wave-out volume as a decimal number (low word left channel, high
// word right channel). Every volume change is also recorded as an activity of kind "wave_volume"
// (detail {"volume":N}), so that a test can tell "set to the same value" from "not touched".
//
// Like the real service, this one raises no notification of its own: programs read the setting
// again when they want to know it. All calls work on the current device and may be made from
// any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

// Sound events. The simulated phone keeps only the master setting, the one for all events.
inline constexpr int SND_EVENT_ALL = 0;

// How an event sounds.
enum SND_SOUNDTYPE : int {
  SND_SOUNDTYPE_ON = 0,
  SND_SOUNDTYPE_FILE = 1,
  SND_SOUNDTYPE_VIBRATE = 2,
  SND_SOUNDTYPE_NONE = 3,
};

// Longest path or display name the service keeps, in characters.
inline constexpr std::size_t kSoundNameChars = 260;

struct SNDFILEINFO {
  std::string szPathName;     // device path of the sound file (SND_SOUNDTYPE_FILE only)
  std::string szDisplayName;  // name shown to the user
  SND_SOUNDTYPE sstType = SND_SOUNDTYPE_ON;
};

// Reads the setting of `soundEvent`. E_INVALIDARG for an event other than SND_EVENT_ALL or a
// null pointer; E_FAIL when no device is open or the stored setting cannot be read.
HRESULT SndGetSound(int soundEvent, SNDFILEINFO* out);
// Changes the setting of `soundEvent`. `suppressUI` keeps the phone from showing its own
// confirmation; the simulated phone never shows one. E_INVALIDARG for another event, an unknown
// sound type, a file type without a path, or a path or name longer than kSoundNameChars
// characters; E_FAIL when no device is open or the store cannot be written.
HRESULT SndSetSound(int soundEvent, const SNDFILEINFO& info, BOOL suppressUI);

// Wave-out volume of the default device (handle 0).
using HWAVEOUT = std::uintptr_t;
using MMRESULT = UINT;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume);
MMRESULT waveOutGetVolume(HWAVEOUT device, DWORD* volume);

// The words of the setting ("on", "file", "vibrate", "silent"), as the device console and the
// hardware state use them.
const char* SoundTypeWord(SND_SOUNDTYPE type);
// False for a word that names no sound type.
bool ParseSoundTypeWord(std::string_view word, SND_SOUNDTYPE* out);

}  // namespace platform

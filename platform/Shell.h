// Shell services that the schedule's built-in actions use: opening a file with its program,
// setting the ring tone of the phone line, and choosing the home screen's theme.
//
// What the simulated phone does is visible afterwards:
// - opening a file records an activity of kind "open_file" (detail {"file":...,"verb":...,
//   "found":true|false}) and, when the file exists, the hardware state value
//   "last_opened_file";
// - the ring tone of line 1 is HKCU "ControlPanel\Sounds\RingTone0" "Sound"; setting it records
//   an activity of kind "ring_tone" and the hardware state value "ring_tone";
// - the home screen's themes are the files "\Windows\*.tsk", named by their file name without
//   the extension; the theme in use is HKCU "Software\Microsoft\Today" "Skin" (the theme file).
//   Choosing one records an activity of kind "theme" and the hardware state value
//   "today_theme".
//
// Threads: every call may be made from any thread; it works on the current device.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

namespace platform {

// ---- Opening files -------------------------------------------------------------------------
inline constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x00000040;
inline constexpr const char* kLastOpenedFileState = "last_opened_file";

struct SHELLEXECUTEINFO {
  DWORD cbSize = sizeof(SHELLEXECUTEINFO);
  DWORD fMask = 0;
  HWND hwnd = 0;
  std::string lpVerb;  // "Open"
  std::string lpFile;  // device path
  std::string lpParameters;
  int nShow = SW_SHOWNORMAL;
  // With SEE_MASK_NOCLOSEPROCESS: a handle of the program that opened the file (0 otherwise).
  std::uint64_t hProcess = 0;
};

// Opens `info->lpFile` with the program the phone associates with it. FALSE when the file does
// not exist (nothing is opened) or no device is open.
BOOL ShellExecuteEx(SHELLEXECUTEINFO* info);

// ---- Ring tone -----------------------------------------------------------------------------
inline constexpr const char* kRingToneKey = "ControlPanel\\Sounds\\RingTone0";
inline constexpr const char* kRingToneSoundValue = "Sound";
inline constexpr const char* kRingToneState = "ring_tone";
inline constexpr std::size_t kRingToneChars = 260;

// Makes the sound file `path` (a device path) the ring tone of line 1. E_INVALIDARG for an empty
// path or one longer than kRingToneChars characters, E_FAIL when no device is open.
HRESULT SetRingToneLine1(const std::string& path);
// Plays the sound file `path` (a device path) once. Records an activity of kind "play_sound"
// (detail {"file":...,"found":true|false}); FALSE when the file does not exist.
BOOL PlaySoundFile(const std::string& path);

// ---- Home-screen theme ---------------------------------------------------------------------
inline constexpr const char* kTodayKey = "Software\\Microsoft\\Today";
inline constexpr const char* kTodaySkinValue = "Skin";
inline constexpr const char* kTodayThemeState = "today_theme";

// The theme names the phone offers, sorted.
std::vector<std::string> ListTodayThemes();
// Applies the theme named `name`. False (nothing changes) when the phone has no such theme.
bool SelectTodayTheme(const std::string& name);

}  // namespace platform

// Manager ids, shared status values and the window messages the program exchanges.
#pragma once

#include "platform/Types.h"

// Manager ids. Ids 0 to 5 are also the feature slots of the home-screen item; ids 7 and 8 name
// the schedule engine in timed notifications.
enum MgrId : int {
  MGR_ID_WIFI = 0,
  MGR_ID_BT = 1,
  MGR_ID_SPEAKER = 2,
  MGR_ID_PHONE = 3,
  MGR_ID_CONNECTIONS = 4,
  MGR_ID_BAND = 5,
  MGR_ID_RIL = 6,
  MGR_ID_SCHEDULE_PERIOD = 7,
  MGR_ID_SCHEDULE_LOCK = 8,
  MGR_ID_CPU = 9,
  MGR_ID_MESSAGE = 10,
  MGR_ID_BEAM = 50,
  MGR_ID_CALL_FORWARD = 51,
  MGR_ID_BACKLIGHT = 52,
};

// Status shared by every manager: not read yet, and disabled or unreadable.
inline constexpr int STATUS_UNKNOWN = -2;
inline constexpr int STATUS_DISABLED = -1;

// Messages a later instance of the program posts to the running main window.
inline constexpr platform::UINT WM_TIMER_NOTIFICATION = platform::WM_USER + 200;  // 1224
inline constexpr platform::UINT WM_IDLE_NOTIFICATION = platform::WM_USER + 201;   // 1225

// Messages between the main window and the home-screen item.
inline constexpr platform::UINT WM_ITEM_REGISTER = platform::WM_USER + 203;       // 1227
inline constexpr platform::UINT WM_ITEM_LOCATION = platform::WM_USER + 204;       // 1228
inline constexpr platform::UINT WM_ITEM_FEATURE_STATE = platform::WM_USER + 205;  // 1229
inline constexpr platform::UINT WM_ITEM_PLACE_CHANGED = platform::WM_USER + 206;  // 1230

// Other messages the main window handles.
inline constexpr platform::UINT WM_TRAY_ICON = platform::WM_USER + 2;
inline constexpr platform::UINT WM_DIAGNOSTIC_COUNTER_1 = platform::WM_USER + 100;
inline constexpr platform::UINT WM_DIAGNOSTIC_COUNTER_2 = platform::WM_USER + 101;
inline constexpr platform::UINT WM_BLUETOOTH_EVENT = platform::WM_APP + 1;

// The window class of the main window, by which other processes find the running program.
inline constexpr const char* kMainWindowClass = "MainWindow";

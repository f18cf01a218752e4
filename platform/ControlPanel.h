// The phone's control panel ("ctlpnl.exe") as far as its backlight page goes, and the window
// queries a program uses to find its way around a page of another program.
//
// Starting the control panel with the argument of the backlight page ("mycpl.cpl,0" when the
// maker's applet is installed, that is when HKEY_LOCAL_MACHINE "\ControlPanel\MyCPL" exists,
// "cplmain.cpl,6" otherwise) opens that page in front of everything; any other argument opens
// a page without sliders. The page runs on its own thread, like the separate program it is on
// the phone, and keeps this window tree:
//
//   page ("Dialog", full screen)
//     sheet ("Dialog")
//       "static"  (battery caption)
//       "msctls_trackbar32"  battery slider
//       "msctls_trackbar32"  external-power slider
//       "static"  (hint)
//
// Each slider has ticks 0 to kMaxBrightness spread evenly over its width, inset by 10 pixels
// (20 on a VGA screen) at both ends; a click (WM_LBUTTONDOWN) moves the thumb to the tick
// nearest the clicked point and is recorded as an activity of kind "click" (detail
// {"control":"battery","x":X,"y":Y}). The sliders start at the registry's levels. Closing the
// page (WM_CLOSE) saves both sliders into the registry the way the control panel does and
// signals "BackLightChangeEvent", then the page's windows go away.
//
// Device state that shapes the page, for tests and the device console:
//   "backlight_page"          "sliders" (default), "plain" (the page lays its controls out
//                             differently: no slider where a program looks for one) or "none"
//                             (the control panel opens no page at all)
//   "backlight_slider_width"  slider width in pixels (default: the screen width less the
//                             page's borders)
//   "screen_width", "screen_height"  the phone's screen (240 x 320 when absent)
//
// One page is open at a time: starting the control panel while a page is open brings that
// page to the front. The page's windows are registered with the window service of this
// process, so posted messages reach them; they belong to the device that was current when the
// page opened. Close a page (or let the program close it) before closing its device. All calls
// may be made from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

inline constexpr const char* kControlPanelImage = "ctlpnl.exe";
inline constexpr const char* kLastProgramState = "last_program";
inline constexpr const char* kMakerAppletKey = "ControlPanel\\MyCPL";
inline constexpr const char* kMakerBacklightPage = "mycpl.cpl,0";
inline constexpr const char* kStandardBacklightPage = "cplmain.cpl,6";
inline constexpr const char* kTrackbarClass = "msctls_trackbar32";
inline constexpr const char* kBacklightPageState = "backlight_page";
inline constexpr const char* kBacklightSliderWidthState = "backlight_slider_width";

inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr WPARAM MK_LBUTTON = 0x0001;

inline constexpr LPARAM MakeLParam(int low, int high) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(high & 0xFFFF) << 16) |
                             static_cast<std::uint32_t>(low & 0xFFFF));
}

using LRESULT = std::intptr_t;

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};

// Relations for GetWindow.
inline constexpr UINT GW_HWNDNEXT = 2;
inline constexpr UINT GW_CHILD = 5;

// Starts a program of the phone. Every start is recorded as an activity of kind "process"
// (detail {"image":"ctlpnl.exe","args":"cplmain.cpl,6"}) and as the hardware state value
// kLastProgramState ("ctlpnl.exe cplmain.cpl,6"). The simulated phone has only the
// control panel: FALSE (and nothing recorded) for any other image or when no device is open.
BOOL StartDeviceProgram(std::string_view image, std::string_view args);
// Waits until no control-panel page is open; true when none is (any more) within `timeoutMs`.
bool WaitForControlPanelExit(DWORD timeoutMs);

// The window in front: the open control-panel page, or 0 when none is open.
HWND GetForegroundWindow();
// The first child (GW_CHILD) or the next sibling (GW_HWNDNEXT) of a window; 0 when there is
// none or the window is not one of a page.
HWND GetWindow(HWND hwnd, UINT relation);
// The window's class name cut to `maxChars` characters; returns its length, 0 when unknown.
int GetClassName(HWND hwnd, std::string* out, int maxChars);
// The window's rectangle in screen pixels; FALSE when unknown.
BOOL GetWindowRect(HWND hwnd, RECT* out);
// Delivers the message to a window of a page and returns once the page has handled it (0).
// Any other window gets the message posted, without waiting; returns 0 as well.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace platform

// Basic value types and result codes of the simulated phone's system interfaces.
//
// The program was written against a phone operating system whose calls take 32-bit words,
// window messages and handles. These aliases keep those shapes so that calls read the same
// way on every backend, while strings are UTF-8 std::string throughout.
#pragma once

#include <cstdint>

namespace platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = int;
using HRESULT = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

// A window handle: unique within a device, valid in every process of that device. 0 = none.
using HWND = std::uint64_t;
// A timed-notification handle in the device's notification database. 0 = none.
using HNOTIFY = std::uint64_t;

// Result codes (the system's own numbers).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_ALREADY_EXISTS = 183;
inline constexpr LONG ERROR_PIPE_NOT_CONNECTED = 233;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_TIMEOUT = 1460;
inline constexpr LONG ERROR_GEN_FAILURE = 31;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);

// Registry value kinds.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Window messages the platform itself defines.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;
// Requests to show a window or bring it to the front, delivered to the window like messages.
inline constexpr UINT WM_PLATFORM_SHOW = WM_APP + 0x3F00;
inline constexpr UINT WM_PLATFORM_FOREGROUND = WM_APP + 0x3F01;
// First number handed out by RegisterWindowMessage.
inline constexpr UINT REGISTERED_MESSAGE_FIRST = 0xC000;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;

}  // namespace platform

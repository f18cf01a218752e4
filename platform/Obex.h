// The phone's object-exchange (OBEX) server, which receives infrared and Bluetooth beams. It runs
// as a service that a program controls through the service's device file "OBX0:" with
// start, stop and status requests.
//
// The service state is hardware state of the device ("obex" = "stopped", "running" or
// "absent"; missing reads as stopped). "absent" models a phone without the service: the device
// file cannot be opened. Every request that reaches the service is recorded as an activity of
// kind "obex" (detail {"request":"start"}, "stop" or "status"), so tests and the console can see
// what the program asked for.
//
// All calls work on the current device and may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

// Handle of an open service device file; 0 = none.
using HSERVICEDEVICE = std::uint64_t;

inline constexpr const char* kObexDeviceName = "OBX0:";
inline constexpr const char* kObexState = "obex";

// Access rights and creation disposition of OpenServiceDevice.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD OPEN_EXISTING = 3;

// Service control requests.
inline constexpr DWORD IOCTL_SERVICE_START = 0x01040004;
inline constexpr DWORD IOCTL_SERVICE_STOP = 0x01040008;
inline constexpr DWORD IOCTL_SERVICE_STATUS = 0x01040020;

// Answers of IOCTL_SERVICE_STATUS (a 4-byte output).
inline constexpr DWORD SERVICE_STATE_OFF = 0;
inline constexpr DWORD SERVICE_STATE_ON = 1;

// Opens a service's device file. Only OPEN_EXISTING is supported. With `shareMode` 0 the file
// is opened exclusively: a second open in this process fails with error 32 (sharing violation)
// until the first handle is closed. Returns 0 on failure (error in *error when given): an unknown
// name or an absent service gives ERROR_FILE_NOT_FOUND.
HSERVICEDEVICE OpenServiceDevice(std::string_view name, DWORD access, DWORD shareMode,
                                 DWORD creation, LONG* error = nullptr);
// Sends one control request. IOCTL_SERVICE_STATUS needs a 4-byte output buffer and answers
// SERVICE_STATE_ON or SERVICE_STATE_OFF. FALSE for an unknown handle or request, or a status
// request without room for the answer.
BOOL DeviceIoControl(HSERVICEDEVICE handle, DWORD code, const void* in, DWORD inSize, void* out,
                     DWORD outSize, DWORD* bytesReturned);
BOOL CloseServiceDevice(HSERVICEDEVICE handle);

// Simulation controls: "stopped", "running" or "absent".
std::string GetObexServiceState();
// False for an unknown state word.
bool SetObexServiceState(const std::string& state);

}  // namespace platform

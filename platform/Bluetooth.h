// The phone's Bluetooth radio: its mode (off, connectable, discoverable) and the stack events a
// program can ask to receive in a message queue of its own.
//
// The mode is hardware state of the device ("bt" = "off", "connectable" or "discoverable"; absent
// reads as off) and is published as the state value HKLM "System\State\Hardware" "Bluetooth"
// (0 off, 1 on and connectable, 3 on and discoverable). Setting the mode, from any process of the
// device, raises one stack event of kind BTE_STACK_MODE_CHANGED in every queue that asked for
// stack events, in every process. Events are delivered on the endpoint thread, a little after
// the change, as on the phone.
//
// For tests and the device console, the next N mode reads can be made to fail ("fail_bt_read"
// counts them down).
//
// All calls work on the current device and may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/MsgQueue.h"
#include "platform/Types.h"

namespace platform {

// Radio modes.
inline constexpr DWORD BTH_POWER_OFF = 0;
inline constexpr DWORD BTH_CONNECTABLE = 1;
inline constexpr DWORD BTH_DISCOVERABLE = 2;

// Event classes a program can ask for (a bit mask).
inline constexpr DWORD BTE_CLASS_STACK = 8;

// Stack events.
inline constexpr DWORD BTE_STACK_MODE_CHANGED = 1;

// One message written into a notification queue.
struct BluetoothEvent {
  DWORD eventClass = 0;
  DWORD eventId = 0;
  // The mode after the change.
  DWORD mode = 0;
};

// Hardware state names.
inline constexpr const char* kBluetoothModeState = "bt";
inline constexpr const char* kBluetoothReadFailuresState = "fail_bt_read";

// Reads the radio mode. 0 on success; ERROR_GEN_FAILURE when the read fails (no device, or a
// failure asked for by FailNextBluetoothReads).
int BthGetMode(DWORD* mode);
// Sets the radio mode. 0 on success; ERROR_INVALID_PARAMETER for an unknown mode,
// ERROR_GEN_FAILURE when no device is open. Raises a stack event when the mode changed.
int BthSetMode(DWORD mode);

// Handle of a notification request; 0 = none.
using HBTNOTIFY = std::uint64_t;

// Asks for the events of `classes` to be written into `queue` (a reading end created by the
// caller; messages are sizeof(BluetoothEvent) bytes). Returns 0 when refused: no device, an
// invalid queue, or no class this phone raises.
HBTNOTIFY RequestBluetoothNotifications(DWORD classes, HMSGQUEUE queue);
// Ends a request. Closing the request's writing end means a reader blocked on an otherwise
// unwritten queue wakes with ERROR_PIPE_NOT_CONNECTED. FALSE for an unknown handle.
BOOL StopBluetoothNotifications(HBTNOTIFY handle);

// Simulation controls.
// "off", "connectable", "discoverable".
const char* BluetoothModeName(DWORD mode);
std::optional<DWORD> ParseBluetoothMode(const std::string& name);
// The next `count` calls of BthGetMode in any process fail (0 ends a pending series).
void FailNextBluetoothReads(int count);
// Reads still to fail.
int PendingBluetoothReadFailures();

namespace bluetooth::detail {
// Word of kBluetoothModeState for a phone whose Bluetooth service or adapter is missing (the
// Linux backend); BthGetMode then fails.
inline constexpr const char* kAbsent = "absent";
// Records the radio's mode (nullopt: no adapter) as the phone shows it: the state value, the
// published value and, when it changed, the stack event. Used by the backends; returns false
// when no device is open.
bool StoreMode(std::optional<DWORD> mode);
}  // namespace bluetooth::detail

}  // namespace platform

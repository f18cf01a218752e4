// The phone's radio interface layer (RIL): the serving cell, the signal quality, and the
// notifications the radio sends about them.
//
// A program opens the RIL with two callbacks: one for unsolicited notifications of the classes
// it asks for, one for the results of its requests. A request (cell tower information, signal
// quality) returns at once with a positive request id, or a negative error; its result arrives
// later through the result callback with that id. The radio sends the location notification
// when the serving cell changes and the signal notification when the signal changes, and both
// again when it registers on the network after being switched on.
//
// The simulated radio keeps its state in the device store, so that every process sees one
// radio, in these hardware state values (shown by the console's `state`):
//     "cell_id", "lac"        serving cell identifier and location area code (0 = none)
//     "signal_strength"       received signal strength (dBm)
//     "signal_min", "signal_max"  the limits the radio reports with it (-113 and -51 by default)
//     "signal_params"         which of strength, minimum and maximum the radio reports (bits
//                             RIL_PARAM_SQ_*; all three by default)
// and publishes the signal as a percentage in HKLM "System\State\Phone" "Signal Strength".
// Changes made by the device console reach the RIL of every process through the hardware
// events "ril_location" and "ril_signal". The radio is on while HKLM "System\State\Phone"
// "Status" lacks bit 0x10; while it is off, no notification is sent and requests answer
// RIL_RESULT_RADIOOFF.
//
// Threads: every call may be made from any thread. Each process runs one RIL thread while a
// handle is open; all callbacks of the process run on it, one at a time, in the order the
// requests were made and the events arrived. RIL_Deinitialize does not return while a callback
// of that handle runs on the RIL thread (unless it is called from that callback), and no
// callback of the handle is called after it returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/Types.h"

namespace platform {

using HRIL = std::uint32_t;

// Notification classes (the high word of a notification code).
inline constexpr DWORD RIL_NCLASS_NETWORK = 0x00040000;
inline constexpr DWORD RIL_NCLASS_MISC = 0x00400000;
inline constexpr DWORD RIL_NCLASS_MASK = 0x00FF0000;

// Notification codes.
inline constexpr DWORD RIL_NOTIFY_REGSTATUSCHANGED = 0x00040005;
inline constexpr DWORD RIL_NOTIFY_LOCATIONUPDATE = 0x00040008;
inline constexpr DWORD RIL_NOTIFY_SIGNALQUALITY = 0x00400005;

// Result codes handed to the result callback.
inline constexpr DWORD RIL_RESULT_OK = 0x00000001;
inline constexpr DWORD RIL_RESULT_ERROR = 0x00000003;
inline constexpr DWORD RIL_RESULT_RADIOOFF = 0x0000000B;

// Which fields of a signal-quality record are valid.
inline constexpr DWORD RIL_PARAM_SQ_SIGNALSTRENGTH = 0x00000001;
inline constexpr DWORD RIL_PARAM_SQ_MINSIGNALSTRENGTH = 0x00000002;
inline constexpr DWORD RIL_PARAM_SQ_MAXSIGNALSTRENGTH = 0x00000004;
inline constexpr DWORD RIL_PARAM_SQ_ALL = 0x00000007;

// Data of RIL_NOTIFY_LOCATIONUPDATE: the second word is the location area code, the third the
// cell identifier.
struct RILLOCATIONINFO {
  DWORD cbSize;
  DWORD dwLocationAreaCode;
  DWORD dwCellID;
};

// Result of RIL_GetCellTowerInfo: the fifth word (index 4) is the location area code, the sixth
// (index 5) the cell identifier.
struct RILCELLTOWERINFO {
  DWORD cbSize;
  DWORD dwParams;
  DWORD dwMobileCountryCode;
  DWORD dwMobileNetworkCode;
  DWORD dwLocationAreaCode;
  DWORD dwCellID;
  DWORD dwBaseStationID;
  DWORD dwRxLevel;
};

// Data of RIL_NOTIFY_SIGNALQUALITY and result of RIL_GetSignalQuality: size, parameter mask,
// strength, minimum, maximum.
struct RILSIGNALQUALITY {
  DWORD cbSize;
  DWORD dwParams;
  std::int32_t nSignalStrength;
  std::int32_t nMinSignalStrength;
  std::int32_t nMaxSignalStrength;
};

// (code, data, size of data in bytes, the parameter given to RIL_Initialize).
using RILNOTIFYCALLBACK =
    std::function<void(DWORD code, const void* data, std::size_t size, DWORD param)>;
// (result code, request id, data, size of data in bytes, the parameter given to
// RIL_Initialize). The data is only valid during the call.
using RILRESULTCALLBACK = std::function<void(DWORD code, HRESULT requestId, const void* data,
                                             std::size_t size, DWORD param)>;

// Opens the RIL on port `index` (1 is the only port). `notificationClasses` selects the
// notifications delivered (RIL_NCLASS_* bits). S_OK and the handle, or E_INVALIDARG for another
// port or a missing callback, E_FAIL when no device is open.
HRESULT RIL_Initialize(DWORD index, RILRESULTCALLBACK resultCallback,
                       RILNOTIFYCALLBACK notifyCallback, DWORD notificationClasses, DWORD param,
                       HRIL* out);
// Closes a handle. E_INVALIDARG for a handle that is not open.
HRESULT RIL_Deinitialize(HRIL handle);
// Asynchronous requests: a positive request id, or E_INVALIDARG for a handle that is not open.
HRESULT RIL_GetCellTowerInfo(HRIL handle);
HRESULT RIL_GetSignalQuality(HRIL handle);

namespace ril {

inline constexpr const char* kCellIdState = "cell_id";
inline constexpr const char* kLacState = "lac";
inline constexpr const char* kSignalStrengthState = "signal_strength";
inline constexpr const char* kSignalMinState = "signal_min";
inline constexpr const char* kSignalMaxState = "signal_max";
inline constexpr const char* kSignalParamsState = "signal_params";
inline constexpr const char* kLocationEvent = "ril_location";
inline constexpr const char* kSignalEvent = "ril_signal";
inline constexpr int kDefaultSignalMin = -113;
inline constexpr int kDefaultSignalMax = -51;

struct ServingCell {
  DWORD cellId = 0;
  DWORD lac = 0;
};

struct Signal {
  int strength = kDefaultSignalMin;
  int minimum = kDefaultSignalMin;
  int maximum = kDefaultSignalMax;
  DWORD params = RIL_PARAM_SQ_ALL;
};

// The radio's current serving cell and signal (all zero / defaults when no device is open).
ServingCell GetServingCell();
Signal GetSignal();
// The phone moves to another serving cell. With `announce`, the radio of every process sends
// the location notification (while the radio is on); without, only a request finds it. False
// when no device is open.
bool SetServingCell(DWORD cellId, DWORD lac, bool announce);
// The signal changes; every process's radio sends the signal notification while the radio is
// on. False when no device is open.
bool SetSignal(const Signal& signal);
// True while the phone radio is on.
bool RadioIsOn();

}  // namespace ril

}  // namespace platform

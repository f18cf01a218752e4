// The maker's utility library on the simulated phone: message boxes, error reports, the
// library's own log, the program folder, date arithmetic on SYSTEMTIME and the reversible
// protection of a stored PIN.
//
// Boxes never block a process that has no user interface: unless the device is set to answer
// boxes through the user interface ("ui") and a user interface has installed its box hook, a box
// is answered at once by the device's answer mode. Every box is recorded in the device store
// (activity kind "box") with its kind, text and the answer given, so tests and the device console
// can see what the user was told.
//
// Every function works on the current device (Device::Current()) and may be called from any
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Time.h"
#include "platform/Types.h"

namespace platform {

// ---- Boxes -------------------------------------------------------------------------------

// Box kinds, as passed to the box hook.
inline constexpr int BOX_TEXT = 0;
inline constexpr int BOX_ERROR = 1;
inline constexpr int BOX_QUESTION = 2;

// Shows `text` in a box with one button; returns when it is dismissed.
void TextBox(HWND owner, const std::string& text);
// Shows the printf-style formatted text as an error box; returns when it is dismissed.
void ErrorBox(HWND owner, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Asks a yes/no question; returns non-zero for yes.
int QuestionBox(HWND owner, const std::string& text);
// Reports an error to the user and goes on: writes the text to the library's log (severity 1)
// and shows it as an error box like ErrorBox (answered at once unless a user interface shows it).
void ProcesarError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The hook a user interface installs to show real modal boxes. `kind` is BOX_TEXT, BOX_ERROR or
// BOX_QUESTION; the result is non-zero for yes (ignored for text and error boxes). The hook runs
// on the thread that shows the box; it must itself get onto its UI thread if it needs to. An
// empty function removes the hook.
using BoxHook = std::function<int(int kind, HWND owner, const std::string& text)>;
void SetBoxHook(BoxHook hook);

// How boxes are answered on this device: "yes" (the default) or "no" answers at once, "ui" goes
// through the box hook when one is installed (and answers "yes" when none is). Kept in the
// device store as the hardware state value "box_answer_mode", so the device console and every
// process of the device share it. An unknown mode is ignored by SetBoxAnswerMode and read as
// "yes".
inline constexpr const char* kBoxAnswerModeState = "box_answer_mode";
void SetBoxAnswerMode(const std::string& mode);
std::string GetBoxAnswerMode();

// A box as recorded in the device store. `kind` is "text", "error" or "question"; `answer` is
// "ok" for text and error boxes, "yes" or "no" for questions; `time` is the device local time
// the box was recorded.
struct BoxRecord {
  std::string time, kind, text, answer;
};
// The boxes recorded on the current device, oldest first.
std::vector<BoxRecord> ListBoxes();

// ---- Log and folder ----------------------------------------------------------------------

// Appends one line "YYYY-MM-DD HH:MM:SS [severity] text" to the library's log (mosutil.log in
// the device folder). Never fails visibly: a log that cannot be written is skipped.
void LogFormateado(int severity, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Host path of the library's log.
std::string LogFilePath();

// Host path of the device's program folder, without a trailing '/'. Empty when no device is
// open.
std::string GetCurrentDirectory();

// ---- Date arithmetic ---------------------------------------------------------------------

// Units for the functions below: a 64-bit count of 100-nanosecond ticks.
inline constexpr int64_t DT_SECOND = 10000000LL;
inline constexpr int64_t DT_MINUTE = 600000000LL;
inline constexpr int64_t DT_DAY = 864000000000LL;

// *result = base + count * unit, in civil (local) time; the day of week is filled in.
// Sub-millisecond parts of the product are dropped. Returns false, leaving *result untouched,
// when `base` is not a valid time or the result falls outside the years 1601 to 30827.
bool DT_AddDiff(SYSTEMTIME* result, int64_t unitTicks, int64_t count, const SYSTEMTIME& base);
// The number of units from `earlier` to `later` (negative when `later` is earlier); callers
// truncate it. 0 for a unit that is not positive or a time that is not valid.
double DT_PeriodsBetween(int64_t unitTicks, const SYSTEMTIME& earlier, const SYSTEMTIME& later);

// ---- PIN protection ----------------------------------------------------------------------

// Protects `plain` with authenticated encryption under the device's key (pin.key in the device
// folder, 32 random bytes, created on first use readable only by its owner). The result holds a
// random nonce followed by the ciphertext, so two calls give different bytes. Empty when the
// key cannot be read or created.
std::vector<uint8_t> Encriptar(const std::string& plain);
// Turns the output of Encriptar back into the plain text. False (and *plain untouched) for data
// that was altered, cut short or protected under another device's key.
bool Desencriptar(const std::vector<uint8_t>& protectedForm, std::string* plain);

}  // namespace platform

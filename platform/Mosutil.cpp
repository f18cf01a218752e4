#include "platform/Mosutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/Device.h"
#include "platform/Json.h"
#include "platform/Text.h"

namespace platform {

namespace {

// ---- Box records -------------------------------------------------------------------------
// A box is kept as a flat JSON object {"kind":..,"text":..,"answer":..} in the activity
// record, so that the device console can print it as it is.

const char* KindName(int kind) {
  switch (kind) {
    case BOX_ERROR:
      return "error";
    case BOX_QUESTION:
      return "question";
    default:
      return "text";
  }
}

void RecordBox(int kind, const std::string& text, const std::string& answer) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  std::string detail = JsonText({{"kind", KindName(kind)}, {"text", text}, {"answer", answer}});
  try {
    dev->AddActivity("box", detail);
  } catch (const StoreError&) {
    // A box must never fail its caller; an unwritable store loses only the record.
  }
}

std::mutex g_hookMutex;
std::shared_ptr<const BoxHook> g_hook;

// Shows one box: through the hook in "ui" mode when a user interface has installed one,
// otherwise answered at once by the device's mode. Records the box with its answer.
int ShowBox(int kind, HWND owner, const std::string& text) {
  const std::string mode = GetBoxAnswerMode();
  std::shared_ptr<const BoxHook> hook;
  if (mode == "ui") {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  int result;
  if (hook) {
    // Called without the hook lock held: a modal box may take long, and other threads may show
    // boxes or replace the hook meanwhile.
    result = (*hook)(kind, owner, text);
  } else {
    result = mode == "no" ? 0 : 1;
  }
  if (kind != BOX_QUESTION)
    result = 1;
  RecordBox(kind, text, kind == BOX_QUESTION ? (result ? "yes" : "no") : "ok");
  return result;
}

bool IsKnownMode(const std::string& mode) {
  return mode == "yes" || mode == "no" || mode == "ui";
}

// ---- Log ---------------------------------------------------------------------------------

// A log that reaches this size is moved aside to "<log>.old" before the next line, so the
// library's log never grows without bound on the phone.
constexpr off_t kLogRotateBytes = 1 << 20;

std::mutex g_logMutex;

void WriteLogLine(int severity, const std::string& text) {
  Device* dev = Device::Current();
  if (!dev)
    return;
  std::string time;
  try {
    time = FormatSystemTime(Clock::LocalTime());
  } catch (const StoreError&) {
    time = FormatSystemTime(MsToSystemTime(Clock::HostLocalNowMs()));
  }
  // One entry is one line: line breaks inside the text become spaces.
  std::string line = time + " [" + std::to_string(severity) + "] ";
  for (char c : text)
    line.push_back(c == '\n' || c == '\r' ? ' ' : c);
  line.push_back('\n');

  const std::string path = (dev->Folder() / "mosutil.log").string();
  std::lock_guard lock(g_logMutex);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && st.st_size >= kLogRotateBytes) {
    ::rename(path.c_str(), (path + ".old").c_str());
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return;
  // A single write with O_APPEND keeps lines of several processes whole.
  ssize_t n = ::write(fd, line.data(), line.size());
  (void)n;
  ::close(fd);
}

}  // namespace

// ---- Boxes -------------------------------------------------------------------------------

void TextBox(HWND owner, const std::string& text) {
  ShowBox(BOX_TEXT, owner, text);
}

void ErrorBox(HWND owner, const char* format, ...) {
  std::string text;
  if (format) {
    va_list args;
    va_start(args, format);
    text = VFormat(format, args);
    va_end(args);
  }
  ShowBox(BOX_ERROR, owner, text);
}

int QuestionBox(HWND owner, const std::string& text) {
  return ShowBox(BOX_QUESTION, owner, text);
}

void ProcesarError(const char* format, ...) {
  std::string text;
  if (format) {
    va_list args;
    va_start(args, format);
    text = VFormat(format, args);
    va_end(args);
  }
  WriteLogLine(1, text);
  ShowBox(BOX_ERROR, 0, text);
}

void SetBoxHook(BoxHook hook) {
  std::shared_ptr<const BoxHook> next;
  if (hook)
    next = std::make_shared<const BoxHook>(std::move(hook));
  std::lock_guard lock(g_hookMutex);
  g_hook = std::move(next);
}

void SetBoxAnswerMode(const std::string& mode) {
  const std::string m = ToLowerAscii(mode);
  if (!IsKnownMode(m))
    return;
  if (Device* dev = Device::Current())
    dev->SetState(kBoxAnswerModeState, m);
}

std::string GetBoxAnswerMode() {
  Device* dev = Device::Current();
  if (!dev)
    return "yes";
  std::optional<std::string> mode;
  try {
    mode = dev->GetState(kBoxAnswerModeState);
  } catch (const StoreError&) {
    return "yes";
  }
  if (!mode)
    return "yes";
  std::string m = ToLowerAscii(*mode);
  return IsKnownMode(m) ? m : "yes";
}

std::vector<BoxRecord> ListBoxes() {
  std::vector<BoxRecord> out;
  Device* dev = Device::Current();
  if (!dev)
    return out;
  for (const auto& a : dev->Activities("box")) {
    BoxRecord r;
    r.time = a.time;
    std::optional<Json> fields = ParseJson(a.detail);
    bool flat = fields && fields->is_object() &&
                std::all_of(fields->begin(), fields->end(),
                            [](const Json& value) { return value.is_string(); });
    if (!flat) {
      // A record written by hand (the console, an older build): keep it as plain text.
      r.text = a.detail;
    } else {
      auto field = [&](const char* key) {
        auto it = fields->find(key);
        return it != fields->end() && it->is_string() ? it->get<std::string>() : std::string();
      };
      r.kind = field("kind");
      r.text = field("text");
      r.answer = field("answer");
    }
    out.push_back(std::move(r));
  }
  return out;
}

// ---- Log and folder ----------------------------------------------------------------------

void LogFormateado(int severity, const char* format, ...) {
  if (!format)
    return;
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  WriteLogLine(severity, text);
}

std::string LogFilePath() {
  Device* dev = Device::Current();
  return dev ? (dev->Folder() / "mosutil.log").string() : std::string();
}

std::string GetCurrentDirectory() {
  Device* dev = Device::Current();
  if (!dev)
    return std::string();
  std::string folder = dev->ProgramFolder().string();
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  return folder;
}

// ---- Date arithmetic ---------------------------------------------------------------------

namespace {
constexpr std::int64_t kTicksPerMs = 10000;
__extension__ typedef __int128 Int128;
}  // namespace

bool DT_AddDiff(SYSTEMTIME* result, int64_t unitTicks, int64_t count, const SYSTEMTIME& base) {
  if (!result || !IsValidSystemTime(base))
    return false;
  // The product of unit and count can exceed 64 bits before it is brought down to milliseconds.
  const Int128 deltaMs = static_cast<Int128>(unitTicks) * count / kTicksPerMs;
  const Int128 ms = static_cast<Int128>(SystemTimeToMs(base)) + deltaMs;
  SYSTEMTIME first{}, last{};
  first.wYear = 1601;
  first.wMonth = 1;
  first.wDay = 1;
  last.wYear = 30827;
  last.wMonth = 12;
  last.wDay = 31;
  last.wHour = 23;
  last.wMinute = 59;
  last.wSecond = 59;
  last.wMilliseconds = 999;
  if (ms < SystemTimeToMs(first) || ms > SystemTimeToMs(last))
    return false;
  *result = MsToSystemTime(static_cast<std::int64_t>(ms));
  return true;
}

double DT_PeriodsBetween(int64_t unitTicks, const SYSTEMTIME& earlier, const SYSTEMTIME& later) {
  if (unitTicks <= 0 || !IsValidSystemTime(earlier) || !IsValidSystemTime(later))
    return 0.0;
  // 128 bits: the full span of valid times in ticks comes within 0.01% of the 64-bit limit.
  const Int128 diffTicks =
      static_cast<Int128>(SystemTimeToMs(later) - SystemTimeToMs(earlier)) * kTicksPerMs;
  // Whole units exactly, then the fraction, so that an exact number of units never comes out a
  // hair below the integer that callers truncate to.
  const Int128 whole = diffTicks / unitTicks;
  const Int128 rest = diffTicks % unitTicks;
  return static_cast<double>(whole) + static_cast<double>(rest) / static_cast<double>(unitTicks);
}

}  // namespace platform

// log: the program's event log. Without options the device's log file as text; with --csv the
// entries the running program holds, as CSV with the cause of each change in its own column
// (the same export as the event log page's command).
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "console/Console.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Requests.h"
#include "platform/Text.h"
#include "platform/Window.h"

namespace console {
namespace {

using namespace platform;

constexpr const char* kSettingsKey = "SOFTWARE\\Orvella\\Telvane";
constexpr const char* kDefaultLogPath = "\\Program Files\\Telvane\\log.txt";
// Kept in step with the program's event log (CEventLog::kCsvRequestEvent).
constexpr const char* kCsvRequestEvent = "eventlog_csv";
constexpr DWORD kCsvTimeoutMs = 15000;

// The log file (UTF-16LE) as UTF-8 text.
int PrintFile() {
  std::string path;
  if (RegistryGetString(HKEY_LOCAL_MACHINE, kSettingsKey, "events_log_path", &path) != S_OK ||
      path.empty()) {
    path = kDefaultLogPath;
  }
  std::optional<std::filesystem::path> host = Device::Current()->ConfinedHostPath(path);
  if (!host)
    return Fail("the log file " + path + " is not on the phone");
  bool ok = false;
  std::string bytes = ReadHostFile(*host, &ok);
  if (!ok)
    return Fail("no log file " + path);
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  std::cout << Utf16ToUtf8(wide);
  return 0;
}

// Asks the running program to write its CSV into the phone's temporary folder, prints and
// removes it.
int PrintCsv() {
  HWND window = FindWindow("MainWindow");
  int pid = window ? WindowProcess(window) : 0;
  if (pid == 0)
    return Fail("the program does not run: its event log is in memory only while it runs");
  Device& dev = *Device::Current();
  std::string devicePath = "\\Temp\\eventlog-" + std::to_string(getpid()) + ".csv";
  std::filesystem::path host = dev.HostPath(devicePath);
  std::error_code ec;
  std::filesystem::create_directories(host.parent_path(), ec);
  std::string error;
  bool answered = AskProcess(pid, kCsvRequestEvent, devicePath, kCsvTimeoutMs, &error);
  bool ok = false;
  std::string csv = answered ? ReadHostFile(host, &ok) : std::string();
  std::filesystem::remove(host, ec);
  if (!answered)
    return Fail("the event log could not be exported: " + error);
  if (!ok)
    return Fail("the program wrote no " + devicePath);
  std::cout << csv;
  return 0;
}

int Run(const Args& all) {
  Args args = all;
  bool csv = TakeFlag(args, "--csv");
  if (!args.empty())
    return Usage("log");
  return csv ? PrintCsv() : PrintFile();
}

ConsoleCommand log("log", "log [--csv]",
                   "The event log file as text; with --csv the running program's entries as CSV "
                   "(time, level, code, summary, description, cause).",
                   Run);

}  // namespace
}  // namespace console

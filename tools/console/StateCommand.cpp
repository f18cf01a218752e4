// state: everything the phone knows, for people or (with --json) for scripts.
#include <iostream>
#include <sstream>

#include "console/Console.h"
#include "platform/Device.h"
#include "platform/Endpoint.h"
#include "platform/NotificationRunner.h"
#include "platform/Notify.h"
#include "platform/Time.h"

namespace console {
namespace {

using namespace platform;

struct Process {
  std::int64_t pid;
  std::string role;
  std::string started;
};
struct WindowRow {
  std::int64_t hwnd;
  std::string cls;
  std::int64_t pid;
};

int Run(const Args& args) {
  Args rest = args;
  bool json = TakeFlag(rest, "--json");
  if (!rest.empty())
    return Usage("state");
  Device& dev = *Device::Current();
  Endpoint::PruneDead(dev);
  std::vector<Process> processes;
  {
    auto st = dev.store().Prepare("SELECT pid, role, started FROM endpoints ORDER BY pid");
    while (st.Step()) {
      if (st.Int(0) == dev.endpoint().Pid())
        continue;  // this console itself
      processes.push_back({st.Int(0), st.Text(1), st.Text(2)});
    }
  }
  std::vector<WindowRow> windows;
  {
    auto st = dev.store().Prepare("SELECT hwnd, class, pid FROM windows ORDER BY hwnd");
    while (st.Step())
      windows.push_back({st.Int(0), st.Text(1), st.Int(2)});
  }
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 100000);
  bool serving = NotificationRunner::IsServing(dev);
  auto hardware = dev.AllState();
  std::string now = FormatSystemTime(Clock::LocalTime());
  std::int64_t offset = Clock::OffsetMs();

  if (json) {
    std::ostringstream o;
    o << "{\"device\":" << JsonString(dev.Folder().string()) << ",\"time\":" << JsonString(now)
      << ",\"clock_offset_ms\":" << offset << ",\"runner\":" << (serving ? "true" : "false")
      << ",\"processes\":[";
    for (std::size_t i = 0; i < processes.size(); ++i) {
      o << (i ? "," : "") << "{\"pid\":" << processes[i].pid
        << ",\"role\":" << JsonString(processes[i].role) << "}";
    }
    o << "],\"windows\":[";
    for (std::size_t i = 0; i < windows.size(); ++i) {
      o << (i ? "," : "") << "{\"hwnd\":" << windows[i].hwnd
        << ",\"class\":" << JsonString(windows[i].cls) << ",\"pid\":" << windows[i].pid << "}";
    }
    o << "],\"notifications\":[";
    for (std::size_t i = 0; i < handles.size(); ++i) {
      CE_NOTIFICATION_TRIGGER t;
      CeGetUserNotification(handles[i], &t);
      o << (i ? "," : "") << "{\"handle\":" << handles[i]
        << ",\"due\":" << JsonString(FormatSystemTime(t.stStartTime))
        << ",\"app\":" << JsonString(t.lpszApplication)
        << ",\"args\":" << JsonString(t.lpszArguments) << "}";
    }
    o << "],\"hardware\":{";
    for (std::size_t i = 0; i < hardware.size(); ++i) {
      o << (i ? "," : "") << JsonString(hardware[i].first) << ":" << JsonString(hardware[i].second);
    }
    o << "}}";
    std::cout << o.str() << "\n";
    return 0;
  }
  std::cout << "device:        " << dev.Folder().string() << "\n"
            << "time:          " << now << " (offset " << (offset >= 0 ? "+" : "") << offset / 1000
            << "s)\n"
            << "runner:        " << (serving ? "serving" : "not running") << "\n"
            << "notifications: " << handles.size() << "\n";
  std::cout << "processes:\n";
  for (const auto& p : processes) {
    std::cout << "  " << p.pid << (p.role.empty() ? "" : "  " + p.role) << "\n";
  }
  std::cout << "windows:\n";
  for (const auto& w : windows)
    std::cout << "  " << w.hwnd << "  " << w.cls << "  pid " << w.pid << "\n";
  std::cout << "hardware:\n";
  for (const auto& [name, value] : hardware)
    std::cout << "  " << name << " = " << value << "\n";
  return 0;
}

ConsoleCommand state(
    "state", "state [--json]",
    "Everything the phone knows: clock, processes, windows, notifications, hardware.", Run);

}  // namespace
}  // namespace console

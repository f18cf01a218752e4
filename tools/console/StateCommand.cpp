// state: everything the phone knows, for people or (with --json) for scripts.
#include <iostream>

#include "console/Console.h"
#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/Endpoint.h"
#include "platform/Json.h"
#include "platform/NotificationRunner.h"
#include "platform/Notify.h"
#include "platform/Time.h"
#include "platform/Window.h"

namespace console {
namespace {

using namespace platform;

struct Process {
  std::int64_t pid;
  std::string role;
  std::string started;
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
  // Top-most first.
  std::vector<WindowInfo> windows = ListWindows();
  std::vector<HNOTIFY> handles;
  CeGetUserNotificationHandles(&handles, 100000);
  bool serving = NotificationRunner::IsServing(dev);
  auto hardware = dev.AllState();
  std::string now = FormatSystemTime(Clock::LocalTime());
  std::int64_t offset = Clock::OffsetMs();

  if (json) {
    Json report = {{"device", dev.Folder().string()},
                   {"time", now},
                   {"clock_offset_ms", offset},
                   {"runner", serving},
                   {"backend", backend::Name(backend::Current())}};
    Json processList = Json::array();
    for (const auto& p : processes)
      processList.push_back({{"pid", p.pid}, {"role", p.role}});
    report["processes"] = std::move(processList);
    Json windowList = Json::array();
    for (const auto& w : windows) {
      windowList.push_back({{"hwnd", w.hwnd},
                            {"class", w.className},
                            {"title", w.state.title},
                            {"pid", w.pid},
                            {"visible", w.state.visible},
                            {"enabled", w.state.enabled},
                            {"x", w.state.x},
                            {"y", w.state.y},
                            {"width", w.state.width},
                            {"height", w.state.height},
                            {"active", w.state.active}});
    }
    report["windows"] = std::move(windowList);
    Json notificationList = Json::array();
    for (HNOTIFY handle : handles) {
      CE_NOTIFICATION_TRIGGER t;
      CeGetUserNotification(handle, &t);
      notificationList.push_back({{"handle", handle},
                                  {"due", FormatSystemTime(t.stStartTime)},
                                  {"app", t.lpszApplication},
                                  {"args", t.lpszArguments}});
    }
    report["notifications"] = std::move(notificationList);
    Json hardwareState = Json::object();
    for (const auto& [name, value] : hardware)
      hardwareState[name] = value;
    report["hardware"] = std::move(hardwareState);
    std::cout << JsonText(report) << "\n";
    return 0;
  }
  std::cout << "device:        " << dev.Folder().string() << "\n"
            << "time:          " << now << " (offset " << (offset >= 0 ? "+" : "") << offset / 1000
            << "s)\n"
            << "runner:        " << (serving ? "serving" : "not running") << "\n"
            << "backend:       " << backend::Name(backend::Current()) << "\n"
            << "notifications: " << handles.size() << "\n";
  std::cout << "processes:\n";
  for (const auto& p : processes) {
    std::cout << "  " << p.pid << (p.role.empty() ? "" : "  " + p.role) << "\n";
  }
  std::cout << "windows:\n";
  for (const auto& w : windows) {
    const WindowState& ws = w.state;
    std::cout << "  " << w.hwnd << "  " << w.className << "  pid " << w.pid << "  "
              << (ws.visible ? "visible" : "hidden") << (ws.enabled ? "" : " disabled")
              << (ws.active ? " active" : "") << "  " << ws.width << "x" << ws.height << "+" << ws.x
              << "+" << ws.y << "  \"" << ws.title << "\"\n";
  }
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

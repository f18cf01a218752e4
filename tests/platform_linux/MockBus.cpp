#include "platform_linux/MockBus.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Wait.h"

extern char** environ;

namespace linuxtest {

namespace {

pid_t g_busPid = -1;
std::unique_ptr<sdbus::IConnection> g_testBus;

void StopBus() {
  g_testBus.reset();
  if (g_busPid > 0)
    kill(g_busPid, SIGTERM);
}

}  // namespace

bool StartPrivateSystemBus() {
  if (g_busPid > 0)
    return true;
  FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
  if (!out)
    return false;
  char address[512] = {};
  char pid[32] = {};
  bool ok = fgets(address, sizeof address, out) && fgets(pid, sizeof pid, out);
  pclose(out);
  if (!ok)
    return false;
  std::string addr(address);
  while (!addr.empty() && (addr.back() == '\n' || addr.back() == '\r'))
    addr.pop_back();
  g_busPid = static_cast<pid_t>(std::atol(pid));
  setenv("DBUS_SYSTEM_BUS_ADDRESS", addr.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", addr.c_str(), 1);
  std::atexit(StopBus);
  return true;
}

sdbus::IConnection& TestBus() {
  if (!g_testBus)
    g_testBus = sdbus::createSystemBusConnection();
  return *g_testBus;
}

bool NameHasOwner(const std::string& name) {
  auto proxy = sdbus::createProxy(TestBus(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
  bool owned = false;
  proxy->callMethod("NameHasOwner")
      .onInterface("org.freedesktop.DBus")
      .withArguments(name)
      .storeResultsTo(owned);
  return owned;
}

MockService::MockService(std::string busName, const std::string& templateName,
                         const std::string& parametersJson, bool sessionBus)
    : busName_(std::move(busName)) {
  // Debian's interpreter, which has python3-dbusmock (another one may come first on PATH).
  std::vector<std::string> args = {"/usr/bin/python3", "-m",
                                   "dbusmock",         sessionBus ? "--session" : "--system",
                                   "--template",       templateName};
  if (!parametersJson.empty()) {
    args.push_back("--parameters");
    args.push_back(parametersJson);
  }
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  // The mock logs every call on its standard output; the tests read the calls over the bus.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, "/usr/bin/python3", &actions, nullptr, argv.data(), environ) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  // A mock that fails to start ends at once; one that starts takes its name on the bus.
  bool exited = false;
  running_ = pid_ > 0 &&
             testsupport::WaitUntil(
                 [&] {
                   int status = 0;
                   exited = waitpid(pid_, &status, WNOHANG) == pid_;
                   return exited || NameHasOwner(busName_);
                 },
                 15000, 20) &&
             !exited;
  if (exited)
    pid_ = -1;
}

MockService::~MockService() {
  Stop();
}

void MockService::Stop() {
  if (pid_ <= 0)
    return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  running_ = false;
  testsupport::WaitUntil([&] { return !NameHasOwner(busName_); }, 5000, 10);
}

std::unique_ptr<sdbus::IProxy> MockService::Object(const std::string& path) {
  return sdbus::createProxy(TestBus(), busName_, path);
}

std::string ModemTemplate() {
  return std::string(TELVANE_SOURCE_DIR) + "/tests/platform_linux/modemmanager_template.py";
}

std::string FeedbackTemplate() {
  return std::string(TELVANE_SOURCE_DIR) + "/tests/platform_linux/feedbackd_template.py";
}

}  // namespace linuxtest

#include "platform/NotificationRunner.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/Backend.h"
#include "platform/Device.h"
#include "platform/Endpoint.h"
#include "platform/Process.h"
#include "platform/Time.h"
#ifdef TELVANE_LINUX_BACKEND
#include "platform/linux/Bridge.h"
#endif

namespace platform {

namespace {

// How long the runner sleeps at most before it looks at the database again, even unwoken.
constexpr std::int64_t kMaxSleepMs = 60000;

std::filesystem::path LockFile(Device& device) {
  return device.Folder() / "runner.lock";
}

}  // namespace

NotificationRunner::NotificationRunner(Launcher launcher) : launcher_(std::move(launcher)) {
  if (!launcher_) {
    launcher_ = [](const std::string& app, const std::string& args) {
      std::vector<std::string> argv;
      if (!args.empty())
        argv.push_back(args);
      return SpawnDetached(app, argv);
    };
  }
}

NotificationRunner::~NotificationRunner() {
  if (lockFd_ >= 0)
    close(lockFd_);
}

int NotificationRunner::RunDue(std::int64_t nowMs) {
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  Store& store = dev->store();
  int started = 0;
  for (;;) {
    std::string app, args;
    bool claimed = false;
    store.Transaction([&] {
      std::int64_t handle = 0;
      {
        auto st = store.Prepare(
            "SELECT handle, app, args FROM notifications WHERE due_ms<=? "
            "ORDER BY due_ms, handle LIMIT 1");
        st.Bind(1, nowMs);
        if (!st.Step())
          return;
        handle = st.Int(0);
        app = st.Text(1);
        args = st.Text(2);
      }
      store.Prepare("DELETE FROM notifications WHERE handle=?").Bind(1, handle).Run();
      claimed = store.Changes() == 1;
    });
    if (!claimed)
      break;
    if (launcher_(app, args))
      ++started;
    dev->AddActivity("notification", app + (args.empty() ? "" : " " + args));
  }
  return started;
}

bool NotificationRunner::IsServing(Device& device) {
  int fd = open(LockFile(device).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

bool NotificationRunner::Serve(bool once) {
  Device* dev = Device::Current();
  if (!dev)
    return false;
  if (!once) {
    lockFd_ = open(LockFile(*dev).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0 || flock(lockFd_, LOCK_EX | LOCK_NB) != 0)
      return false;
    dev->endpoint().SetHandler(PacketKind::kWakeRunner, [this](const auto&) { Wake(); });
    dev->endpoint().SetRole("runner");
  }
#ifdef TELVANE_LINUX_BACKEND
  // The runner serves the device for as long as the program may need it, so on the Linux
  // backend it also keeps the phone's state in step with the machine's services.
  std::unique_ptr<linuxphone::Bridge> bridge;
  if (!once && backend::IsLinux()) {
    bridge = std::make_unique<linuxphone::Bridge>();
    bridge->Start();
  }
#endif
  for (;;) {
    RunDue(Clock::LocalNowMs());
    if (once)
      return true;
    std::int64_t sleepMs = kMaxSleepMs;
    {
      auto st = dev->store().Prepare("SELECT MIN(due_ms) FROM notifications");
      if (st.Step() && !st.IsNull(0)) {
        sleepMs = std::clamp<std::int64_t>(st.Int(0) - Clock::LocalNowMs(), 0, kMaxSleepMs);
      }
    }
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(sleepMs), [&] { return woken_ || stop_; });
    woken_ = false;
    if (stop_)
      return true;
  }
}

void NotificationRunner::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

void NotificationRunner::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

}  // namespace platform

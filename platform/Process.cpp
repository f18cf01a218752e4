#include "platform/Process.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>

#include "platform/Device.h"

extern char** environ;

namespace platform {

std::string CurrentExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return std::string();
  return std::string(buf, n);
}

bool SpawnDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnv, std::string* error) {
  if (access(path.c_str(), X_OK) != 0) {
    if (error)
      *error = path + ": " + std::strerror(errno);
    return false;
  }
  // Everything the children need is prepared before fork: after it only async-signal-safe
  // calls are allowed.
  std::vector<std::string> argvStore{path};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStore)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> envMap;
  for (char** e = environ; *e; ++e) {
    std::string kv(*e);
    auto eq = kv.find('=');
    envMap[kv.substr(0, eq)] = kv;
  }
  if (Device* dev = Device::Current()) {
    envMap["TELVANE_DEVICE"] = "TELVANE_DEVICE=" + dev->Folder().string();
  }
  for (const auto& kv : extraEnv)
    envMap[kv.substr(0, kv.find('='))] = kv;
  std::vector<std::string> envStore;
  for (auto& [k, v] : envMap)
    envStore.push_back(v);
  std::vector<char*> envp;
  for (auto& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    if (error)
      *error = std::strerror(errno);
    return false;
  }
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    if (error)
      *error = std::strerror(errno);
    return false;
  }
  if (child == 0) {
    close(fds[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0)
      _exit(grandchild < 0 ? 1 : 0);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) {
      dup2(devnull, 0);
      close(devnull);
    }
    execve(argv[0], argv.data(), envp.data());
    int err = errno;
    ssize_t ignored = write(fds[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(fds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  do {
    n = read(fds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  if (n == sizeof err) {
    if (error)
      *error = path + ": " + std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace platform

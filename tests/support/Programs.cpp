#include "support/Programs.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/Endpoint.h"
#include "platform/Mosutil.h"
#include "platform/Window.h"

extern char** environ;

std::vector<std::string> QueryDatabase(TestDevice& dev, const std::string& sql) {
  return ReadColumn(dev.device().ProgramFolder() / "tvmgr.db", sql);
}

TelvaneProcess::TelvaneProcess(TestDevice& dev, bool install)
    : dev_(dev), trace_(dev.folder() / "trace.txt") {
  if (install)
    dev_.Console({"install"});
}

TelvaneProcess::~TelvaneProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
  }
  // The program may have been relaunched, and it started the device's runner: end them all.
  platform::Device* device = platform::Device::Current();
  if (!device)
    return;
  std::vector<int> pids;
  {
    auto st = device->store().Prepare("SELECT pid FROM endpoints WHERE pid<>?");
    st.Bind(1, static_cast<int>(getpid()));
    while (st.Step())
      pids.push_back(static_cast<int>(st.Int(0)));
  }
  for (int pid : pids)
    kill(pid, SIGKILL);
}

std::vector<std::string> TelvaneProcess::Environment() const {
  return {"TELVANE_DEVICE=" + dev_.folder().string(), "QT_QPA_PLATFORM=offscreen",
          "TELVANE_TRACE=0:" + trace_.string(), "TELVANE_DEVICE_TOOL=" TELVANE_DEVICE_TOOL};
}

bool TelvaneProcess::Start(const std::vector<std::string>& args) {
  std::vector<std::string> argvStore{TELVANE_BIN};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStore)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e)
    envStore.emplace_back(*e);
  for (const auto& e : Environment())
    envStore.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  auto errPath = (dev_.folder() / "telvane.stderr").string();
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

int TelvaneProcess::Run(const std::vector<std::string>& args) {
  std::vector<std::string> argv{TELVANE_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, Environment(), nullptr, nullptr);
}

bool TelvaneProcess::WaitForWindow(int timeoutMs) {
  return WaitUntil([] { return platform::FindWindow("MainWindow") != 0; }, timeoutMs);
}

bool TelvaneProcess::StartAndWaitUntilReady() {
  return Start() && WaitForWindow() && WaitUntil([&] {
           return TraceText().find("-CAppConnMgr::InitGUI(1)") != std::string::npos;
         });
}

bool TelvaneProcess::ImportProfileSet(const std::string& xml) {
  std::filesystem::path upload = dev_.folder() / "profile-set.xml";
  std::ofstream(upload, std::ios::binary) << xml;
  if (dev_.Console({"file", "put", upload.string(), "\\Telvane.xml"}) != 0)
    return false;
  // The question, then the success message.
  std::size_t seen = platform::ListBoxes().size();
  if (dev_.Console({"post", "MainWindow", "273", "40059", "0"}) != 0)
    return false;
  return WaitUntil([&] {
    auto boxes = platform::ListBoxes();
    return boxes.size() >= seen + 2 && boxes[seen + 1].text.find("imported") != std::string::npos;
  });
}

bool TelvaneProcess::WaitForExit(int timeoutMs) {
  if (pid_ <= 0)
    return true;
  bool ended = WaitUntil(
      [&] {
        int status;
        return waitpid(pid_, &status, WNOHANG) == pid_;
      },
      timeoutMs);
  if (ended)
    pid_ = -1;
  return ended;
}

std::string TelvaneProcess::TraceText() const {
  std::ifstream in(trace_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

#ifdef TELVANE_TODAY_BIN
HomeScreenProcess::~HomeScreenProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
  }
}

bool HomeScreenProcess::Start() {
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e)
    envStore.emplace_back(*e);
  envStore.push_back("TELVANE_DEVICE=" + dev_.folder().string());
  envStore.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (auto& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string bin = TELVANE_TODAY_BIN;
  char* argv[] = {bin.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  auto errPath = (dev_.folder() / "telvane-today.stderr").string();
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 && WaitUntil([] { return platform::FindWindow("HomeScreen") != 0; });
}

bool HomeScreenProcess::Stop() {
  if (pid_ <= 0)
    return true;
  kill(pid_, SIGTERM);
  bool ended = WaitUntil([&] {
    int status;
    return waitpid(pid_, &status, WNOHANG) == pid_;
  });
  if (ended)
    pid_ = -1;
  return ended;
}

std::string HomeScreenProcess::ErrorText() const {
  std::ifstream in(dev_.folder() / "telvane-today.stderr");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
#endif

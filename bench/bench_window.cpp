// Prints the running program's main-window figures on a 480x640 (vga) phone: the time from
// starting telvane to its first painted skinned panel, its resident memory once started, and the
// paint time of the main window (the whole window with every button, as a picture of it renders
// it, and the panel's own double-buffered paint).
//
// Each start is made on a fresh device, with the program's trace written to a file; the figures
// come from the program's own measurements in that trace.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "platform/Device.h"

namespace fs = std::filesystem;
using bench::Max;
using bench::Median;

namespace {

long long NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The numbers that follow `marker` on each line of `text` that holds it.
std::vector<double> Figures(const std::string& text, const std::string& marker) {
  std::vector<double> out;
  for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
    out.push_back(std::strtod(text.c_str() + at + marker.size(), nullptr));
  return out;
}

int Console(const std::string& args) {
  std::string line = std::string(TELVANE_DEVICE_TOOL) + " " + args + " >/dev/null 2>&1";
  return std::system(line.c_str());
}

long ResidentKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (in >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      in >> kb;
      return kb;
    }
    in.ignore(1 << 12, '\n');
  }
  return 0;
}

struct Run {
  double startMs = -1;
  long rssKb = 0;
  std::vector<double> grabMs;
  std::vector<double> panelMs;
};

// One start of telvane on a fresh vga device; `pictures` pictures of the window are taken after
// it started, each a full repaint.
Run StartOnce(int pictures) {
  Run run;
  fs::path folder =
      fs::temp_directory_path() /
      ("telvane-bench-window-" + std::to_string(getpid()) + "-" + std::to_string(NowUs()));
  fs::create_directories(folder);
  fs::path trace = folder / "trace.txt";
  setenv("TELVANE_DEVICE", folder.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TELVANE_DEVICE_TOOL", TELVANE_DEVICE_TOOL, 1);
  setenv("TELVANE_TRACE", ("0:" + trace.string()).c_str(), 1);
  if (Console("install") != 0 || Console("screen 480x640") != 0) {
    std::fprintf(stderr, "cannot prepare the device in %s\n", folder.c_str());
    fs::remove_all(folder);
    return run;
  }
  long long start = NowUs();
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 2);
    execl(TELVANE_BIN, TELVANE_BIN, static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string firstPaint = "CWindowMain first paint at ";
  for (int i = 0; i < 5000; ++i) {
    std::vector<double> at = Figures(ReadFile(trace), firstPaint);
    if (!at.empty()) {
      run.startMs = (static_cast<long long>(at[0]) - start) / 1000.0;
      break;
    }
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (pid > 0 && run.startMs >= 0) {
    // Settled: the managers' first reports are in and drawn.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    run.rssKb = ResidentKb(pid);
    fs::path picture = folder / "window.png";
    std::string before = ReadFile(trace);
    for (int i = 0; i < pictures; ++i)
      Console("screenshot --class MainWindow " + picture.string());
    std::string after = ReadFile(trace).substr(before.size());
    run.grabMs = Figures(after, "CWindowMain::SaveScreenshot grab ");
    run.panelMs = Figures(after, "CWindowMain::OnPaint ");
  }
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  // The program started the device's notification runner: end it (and anything else that the
  // device lists as its own) by its process id.
  {
    platform::Device& device = platform::Device::Open(folder);
    std::vector<int> pids;
    {
      auto st = device.store().Prepare("SELECT pid FROM endpoints WHERE pid<>?");
      st.Bind(1, static_cast<int>(getpid()));
      while (st.Step())
        pids.push_back(static_cast<int>(st.Int(0)));
    }
    for (int p : pids)
      kill(p, SIGKILL);
    platform::Device::Close();
  }
  fs::remove_all(folder);
  return run;
}

}  // namespace

int main() {
  constexpr int kStarts = 5;
  std::vector<double> starts, rss, grabs, panels;
  for (int i = 0; i < kStarts; ++i) {
    Run run = StartOnce(i == kStarts - 1 ? 40 : 0);
    if (run.startMs < 0) {
      std::fprintf(stderr, "telvane did not paint its window\n");
      return 1;
    }
    starts.push_back(run.startMs);
    rss.push_back(run.rssKb / 1024.0);
    grabs.insert(grabs.end(), run.grabMs.begin(), run.grabMs.end());
    panels.insert(panels.end(), run.panelMs.begin(), run.panelMs.end());
  }
  std::printf("main window at 480x640, %d starts\n", kStarts);
  std::printf("start to first painted window: median %.0f ms, max %.0f ms (goal < 400 ms)\n",
              Median(starts), Max(starts));
  std::printf("resident memory once started: median %.1f MB, max %.1f MB (goal < 60 MB)\n",
              Median(rss), Max(rss));
  std::printf("whole window paint (%zu): median %.2f ms, max %.2f ms (goal < 16 ms)\n",
              grabs.size(), Median(grabs), Max(grabs));
  std::printf("panel paint (%zu): median %.2f ms, max %.2f ms\n", panels.size(), Median(panels),
              Max(panels));
  return grabs.empty() ? 1 : 0;
}

// Running the real telvane program on a test device, for integration tests.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestDevice.h"
#include "support/Wait.h"

class TelvaneProcess {
 public:
  // Installs the program on the device (console `install`) when asked to.
  explicit TelvaneProcess(TestDevice& dev, bool install = true);
  // Ends the program and the device's notification runner if they still run.
  ~TelvaneProcess();

  // Starts telvane with `args` in the background; false when it could not be started.
  bool Start(const std::vector<std::string>& args = {});
  // Runs telvane with `args` to its end; returns its exit code.
  int Run(const std::vector<std::string>& args);
  // Waits until the main window exists (true) or `timeoutMs` passed.
  bool WaitForWindow(int timeoutMs = 10000);
  // Starts telvane and waits until its start-up has finished (the main window exists and every
  // manager and message handler is in place).
  bool StartAndWaitUntilReady();
  // Puts `xml` on the phone as its XML data file and runs the main window's import, with the
  // device answering its question; true once the import reported success.
  bool ImportProfileSet(const std::string& xml);
  // Waits until the started process has ended; false on time-out.
  bool WaitForExit(int timeoutMs = 10000);
  pid_t Pid() const { return pid_; }
  // The trace file both telvane processes write (TELVANE_TRACE at level 0).
  std::string TraceText() const;
  const std::filesystem::path& TracePath() const { return trace_; }
  std::vector<std::string> Environment() const;

 private:
  TestDevice& dev_;
  pid_t pid_ = -1;
  std::filesystem::path trace_;
};

// The phone's home screen (telvane-today) on a test device, with what it printed on standard
// error kept in the device folder.
class HomeScreenProcess {
 public:
  explicit HomeScreenProcess(TestDevice& dev) : dev_(dev) {}
  // Ends it if it still runs.
  ~HomeScreenProcess();
  // Starts it and waits until its window exists; false when it did not come up.
  bool Start();
  // Ends it with SIGTERM (it unloads its items) and waits for it.
  bool Stop();
  std::string ErrorText() const;

 private:
  TestDevice& dev_;
  pid_t pid_ = -1;
};

// One column of a query on the program's database on `dev`, as text (NULL reads "<null>"); empty
// when the database cannot be read.
std::vector<std::string> QueryDatabase(TestDevice& dev, const std::string& sql);

// Polls `pred` every 20 ms until it holds or `timeoutMs` passed; the real program takes longer
// to react than an in-process object, hence the longer default limit.
template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs = 10000) {
  return testsupport::WaitUntil(pred, timeoutMs, 20);
}

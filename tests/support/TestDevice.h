// A device in a fresh temporary folder, opened as the current device of the test process and
// removed again at the end of the test.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Device.h"

class TestDevice {
 public:
  TestDevice();
  ~TestDevice();
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;

  platform::Device& device() { return *device_; }
  const std::filesystem::path& folder() const { return folder_; }

  // Runs the device console on this device; returns its exit code and fills `output` with what
  // it printed on standard output (standard error when `stderrOut` is given).
  int Console(const std::vector<std::string>& args, std::string* output = nullptr,
              std::string* stderrOut = nullptr);

 private:
  std::filesystem::path folder_;
  platform::Device* device_;
};

// The first column of every row that `sql` selects from the SQLite file, read with a connection
// of its own, as a user with the sqlite3 shell would; "<null>" for a NULL, nothing when the file
// or the query fails.
std::vector<std::string> ReadColumn(const std::filesystem::path& file, const std::string& sql);

// Runs a command line, capturing its standard output and error. Returns the exit code, or -1
// when it could not be started.
int RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string* out, std::string* err);

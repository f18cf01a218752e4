// A private message bus that stands in for the system bus of the Linux backend's tests, and
// mock services on it (python3-dbusmock: its templates, or ours from this folder).
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <sys/types.h>
#include <memory>
#include <string>

namespace linuxtest {

// Starts the bus once per test binary and points DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS of this process (and of the programs it starts) at it. False when
// dbus-daemon could not be started.
bool StartPrivateSystemBus();

// A connection of the test itself, for driving the mocks.
sdbus::IConnection& TestBus();

bool NameHasOwner(const std::string& name);

// One mock service process; stopped (and waited for until its name left the bus) by Stop or the
// destructor.
class MockService {
 public:
  // `templateName` is a python3-dbusmock template name or a path to a template file.
  MockService(std::string busName, const std::string& templateName,
              const std::string& parametersJson = "", bool sessionBus = false);
  ~MockService();
  MockService(const MockService&) = delete;
  MockService& operator=(const MockService&) = delete;

  bool Running() const { return running_; }
  void Stop();
  // A proxy for one of the mock's objects.
  std::unique_ptr<sdbus::IProxy> Object(const std::string& path);

 private:
  std::string busName_;
  pid_t pid_ = -1;
  bool running_ = false;
};

// Paths of our own templates in the source tree.
std::string ModemTemplate();
std::string FeedbackTemplate();

}  // namespace linuxtest

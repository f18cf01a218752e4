// The simulated object-exchange service and its device file.
#include "platform/Obex.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/Device.h"
#include "platform/Store.h"
#include "platform/Text.h"

namespace platform {

namespace {

constexpr const char* kStopped = "stopped";
constexpr const char* kRunning = "running";
constexpr const char* kAbsent = "absent";
// The system's "sharing violation" error.
constexpr LONG kSharingViolation = 32;

struct OpenFile {
  bool exclusive = false;
};

std::mutex g_filesMutex;
std::map<HSERVICEDEVICE, OpenFile> g_files;
HSERVICEDEVICE g_nextFile = 1;

void Record(Device& dev, const char* request) {
  dev.AddActivity("obex", std::string("{\"request\":\"") + request + "\"}");
}

}  // namespace

std::string GetObexServiceState() {
  Device* dev = Device::Current();
  if (!dev)
    return kAbsent;
  return dev->GetState(kObexState).value_or(kStopped);
}

bool SetObexServiceState(const std::string& state) {
  Device* dev = Device::Current();
  if (!dev || (state != kStopped && state != kRunning && state != kAbsent))
    return false;
  dev->SetState(kObexState, state);
  return true;
}

HSERVICEDEVICE OpenServiceDevice(std::string_view name, DWORD access, DWORD shareMode,
                                 DWORD creation, LONG* error) {
  auto fail = [&](LONG code) -> HSERVICEDEVICE {
    if (error)
      *error = code;
    return 0;
  };
  if (creation != OPEN_EXISTING)
    return fail(ERROR_INVALID_PARAMETER);
  if (!EqualsNoCase(name, kObexDeviceName) || GetObexServiceState() == kAbsent)
    return fail(ERROR_FILE_NOT_FOUND);
  std::lock_guard lock(g_filesMutex);
  for (const auto& [handle, file] : g_files) {
    if (file.exclusive || shareMode == 0)
      return fail(kSharingViolation);
  }
  HSERVICEDEVICE handle = g_nextFile++;
  g_files[handle] = OpenFile{shareMode == 0};
  if (error)
    *error = ERROR_SUCCESS;
  return handle;
}

BOOL DeviceIoControl(HSERVICEDEVICE handle, DWORD code, const void* in, DWORD inSize, void* out,
                     DWORD outSize, DWORD* bytesReturned) {
  {
    std::lock_guard lock(g_filesMutex);
    if (!g_files.count(handle))
      return 0;
  }
  Device* dev = Device::Current();
  if (!dev)
    return 0;
  if (bytesReturned)
    *bytesReturned = 0;
  try {
    switch (code) {
      case IOCTL_SERVICE_START:
        dev->SetState(kObexState, kRunning);
        Record(*dev, "start");
        return 1;
      case IOCTL_SERVICE_STOP:
        dev->SetState(kObexState, kStopped);
        Record(*dev, "stop");
        return 1;
      case IOCTL_SERVICE_STATUS: {
        if (!out || outSize < sizeof(DWORD))
          return 0;
        DWORD state = GetObexServiceState() == kRunning ? SERVICE_STATE_ON : SERVICE_STATE_OFF;
        std::memcpy(out, &state, sizeof state);
        if (bytesReturned)
          *bytesReturned = sizeof state;
        Record(*dev, "status");
        return 1;
      }
      default:
        return 0;
    }
  } catch (const StoreError&) {
    return 0;
  }
}

BOOL CloseServiceDevice(HSERVICEDEVICE handle) {
  std::lock_guard lock(g_filesMutex);
  return g_files.erase(handle) ? 1 : 0;
}

}  // namespace platform

#include "managers/BeamMgr.h"

#include <atomic>

#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Obex.h"

namespace {

std::atomic<CBeamMgr*> g_beamMgr{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

}  // namespace

CBeamMgr::CBeamMgr() : CMgr(MGR_ID_BEAM) {
  g_beamMgr.store(this);
}

CBeamMgr::~CBeamMgr() {
  Stop();
  CBeamMgr* self = this;
  g_beamMgr.compare_exchange_strong(self, nullptr);
}

CBeamMgr* CBeamMgr::GetInstance() {
  return g_beamMgr.load();
}

void CBeamMgr::ForceStatusChild(int status, int minutes) {
  Trace(TRACE_TRACE, "CBeamMgr::ForceStatusChild(%d)", status);
  if (status != BEAM_STATUS_OFF && status != BEAM_STATUS_ON)
    return;
  platform::HSERVICEDEVICE service = platform::OpenServiceDevice(
      platform::kObexDeviceName, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
      platform::OPEN_EXISTING);
  if (!service) {
    Trace(TRACE_WARNING, "CBeamMgr::ForceStatusChild(%d) service not available", status);
    return;
  }
  platform::DWORD returned = 0;
  if (status == BEAM_STATUS_OFF) {
    platform::DeviceIoControl(service, platform::IOCTL_SERVICE_STOP, nullptr, 0, nullptr, 0,
                              &returned);
  } else {
    platform::DeviceIoControl(service, platform::IOCTL_SERVICE_START, nullptr, 0, nullptr, 0,
                              &returned);
    // The service is asked for its state once started; the answer is not used.
    platform::DWORD state = 1;
    platform::DeviceIoControl(service, platform::IOCTL_SERVICE_STATUS, nullptr, 0, &state,
                              sizeof state, &returned);
  }
  platform::CloseServiceDevice(service);
}

std::string CBeamMgr::GetName() {
  return Text("EVENT_LOG_MGR_BEAM_NAME");
}

std::string CBeamMgr::GetStatusName(int status) {
  switch (status) {
    case BEAM_STATUS_OFF:
      return Text("EVENT_LOG_MGR_BEAM_STATUS_OFF");
    case BEAM_STATUS_ON:
      return Text("EVENT_LOG_MGR_BEAM_STATUS_ON");
    default:
      return "unknown";
  }
}

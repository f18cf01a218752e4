#include "managers/CpuMgr.h"

#include <atomic>

#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Power.h"

namespace {

std::atomic<CCpuMgr*> g_instance{nullptr};

struct StateName {
  platform::DWORD flag;
  const char* name;
};

// The names the event log shows; they are not translated.
const StateName kStateNames[] = {
    {platform::POWER_STATE_ON, "On state"},
    {platform::POWER_STATE_OFF, "Off  state"},
    {platform::POWER_STATE_CRITICAL, "Critical state"},
    {platform::POWER_STATE_BOOT, "Boot state"},
    {platform::POWER_STATE_IDLE, "Idle state"},
    {platform::POWER_STATE_SUSPEND, "Suspend state"},
    {platform::POWER_STATE_RESET, "Reset state"},
};

}  // namespace

CCpuMgr::CCpuMgr() : CMgr(MGR_ID_CPU) {
  g_instance.store(this);
}

CCpuMgr::~CCpuMgr() {
  // The worker's handler calls this class's overrides: it must end while they still exist.
  Stop();
  CCpuMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

CCpuMgr* CCpuMgr::GetInstance() {
  return g_instance.load();
}

void CCpuMgr::Initialize() {
  if (ConfigChar(GetId()) == '0')
    SetStatusValue(STATUS_DISABLED);
}

void CCpuMgr::ForceStatusChild(int status, int minutes) {
  Trace(TRACE_DEBUG, "CCpuMgr::ForceStatusChild(%#x)", static_cast<unsigned>(status));
  platform::DWORD result = platform::SetSystemPowerState("", static_cast<platform::DWORD>(status),
                                                         platform::POWER_FORCE);
  Trace(TRACE_DEBUG, "CCpuMgr::-ForceStatusChild(%u)", result);
}

std::string CCpuMgr::GetName() {
  return CTexts::GetInstance()->GetText("EVENT_LOG_MGR_CPU_NAME");
}

std::string CCpuMgr::GetStatusName(int status) {
  for (const auto& s : kStateNames) {
    if (static_cast<platform::DWORD>(status) == s.flag)
      return s.name;
  }
  return "unknwon state";
}

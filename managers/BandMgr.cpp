#include "managers/BandMgr.h"

#include "app/Texts.h"
#include "app/Trace.h"
#include "managers/MobilePhoneMgr.h"
#include "platform/Registry.h"

namespace {

std::atomic<CBandMgr*> g_instance{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

void UnlockSimWithPhonePins() {
  if (CMobilePhoneMgr* phone = CMobilePhoneMgr::GetInstance())
    phone->UnlockSim();
}

}  // namespace

CBandMgr::CBandMgr() : CMgr(MGR_ID_BAND) {
  g_instance.store(this);
}

CBandMgr::~CBandMgr() {
  CBandMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
  if (CMgr* phone = CMgr::GetMgr(MGR_ID_PHONE))
    phone->RemoveStatusListener(this);
  Stop();
  radio_.Close();
}

CBandMgr* CBandMgr::GetInstance() {
  return g_instance.load();
}

std::string CBandMgr::GetName() {
  return Text("EVENT_LOG_MGR_BAND_NAME");
}

std::string CBandMgr::GetStatusName(int status) {
  switch (status) {
    case BAND_STATUS_AUTO:
      return Text("EVENT_LOG_MGR_BAND_STATUS_AUTO");
    case BAND_STATUS_2G:
      return Text("EVENT_LOG_MGR_BAND_STATUS_2G");
    case BAND_STATUS_3G:
      return Text("EVENT_LOG_MGR_BAND_STATUS_3G");
    default:
      return "unknown";
  }
}

int CBandMgr::ReadOpMode() {
  platform::HKEY key = 0;
  if (platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, kBandKey, &key) !=
      platform::ERROR_SUCCESS) {
    return -1;
  }
  platform::DWORD value = 0;
  platform::LONG rc = platform::RegQueryDWORD(key, kBandValue, &value);
  platform::RegCloseKey(key);
  return rc == platform::ERROR_SUCCESS ? static_cast<int>(value) : -1;
}

int CBandMgr::StatusOf(int opMode) {
  return opMode >= BAND_STATUS_AUTO && opMode <= BAND_STATUS_3G ? opMode : STATUS_DISABLED;
}

void CBandMgr::Initialize() {
  Trace(TRACE_TRACE, "CBandMgr::Initialize");
  if (ConfigChar(GetId()) == '0') {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  SetStatusValue(StatusOf(ReadOpMode()));
  radio_.Open("Telvane band");
}

void CBandMgr::RefreshStatusChild(int force) {
  SetStatusValue(StatusOf(ReadOpMode()));
}

void CBandMgr::OnStatusChanged(int status, int mgrId, int reason) {
  RefreshStatus(0);
}

void CBandMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_TRACE, "CBandMgr::ProcessTimerNotification(%d)", param);
  ForceStatus(param, 0, 0, 0, TimeLimitCause());
}

void CBandMgr::ForceStatusChild(int requested, int minutes) {
  Trace(TRACE_TRACE, "CBandMgr::ForceStatusChild(%d)", requested);
  int current = ReadOpMode();
  if (GetStatus() == STATUS_DISABLED)
    return;
  if (resetRunning_.load()) {
    Trace(TRACE_DEBUG, "Hay un rest en curso");
    return;
  }
  bool known = requested >= BAND_STATUS_AUTO && requested <= BAND_STATUS_3G;
  if (!forceSwitch_.load()) {
    if (requested == current || !known)
      return;
  } else if (!known) {
    // An unknown mode is never written: the radio would apply it at its next restart and the
    // band could no longer be read or switched.
    Trace(TRACE_DEBUG, "Opcion descononocida");
    return;
  }
  if (requested == BAND_STATUS_2G)
    ClearTimeLimitNotification(-1);
  platform::HRESULT hr = platform::RegistrySetDWORD(
      platform::HKEY_LOCAL_MACHINE, kBandKey, kBandValue, static_cast<platform::DWORD>(requested));
  if (hr != platform::S_OK)
    Trace(TRACE_ERROR, "CBandMgr::ForceStatusChild could not write the mode(%d)", requested);
  ResetRadio();
}

void CBandMgr::ResetRadio() {
  if (resetRunning_.load()) {
    Trace(TRACE_DEBUG, "Reset desestimado porque hay otro reset en curso");
    return;
  }
  resetRunning_.store(true);
  radio_.Start(CRadioSequence::TARGET_RESTART);
}

void CBandMgr::OnRadioSequenceEnd() {
  resetRunning_.store(false);
  SetRequestAccepted(2);
  StatusEvent().Set();
}

bool CBandMgr::OnRadioReply(platform::LONG id, Step step, platform::LONG result) {
  Trace(TRACE_TRACE, "CBandMgr::LineCallback(%d, %d)", id, result);
  if (step == STEP_REGISTER) {
    if (result != 0)
      Trace(TRACE_ERROR, "CBandMgr register error(%d)", result);
    else
      UnlockSimWithPhonePins();
  }
  return true;
}

void CBandMgr::OnRadioPoweredUp() {
  UnlockSimWithPhonePins();
}

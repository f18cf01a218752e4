#include "managers/BandMgr.h"

#include "app/EventLog.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "managers/MobilePhoneMgr.h"
#include "platform/Registry.h"

namespace {

std::atomic<CBandMgr*> g_instance{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

void ErrorEntry(const char* text) {
  CEventLog::Add(MGR_ID_BAND, CEventLog::LEVEL_WARNING, text, text);
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
  platform::HLINE line;
  platform::HLINEAPP app;
  {
    std::lock_guard lock(lineMutex_);
    line = line_;
    app = lineApp_;
    line_ = 0;
    lineApp_ = 0;
  }
  if (line)
    platform::lineClose(line);
  if (app)
    platform::lineShutdown(app);
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
  std::lock_guard lock(lineMutex_);
  if (!lineApp_) {
    platform::DWORD devices = 0;
    platform::LONG rc = platform::lineInitialize(
        &lineApp_, 0,
        [this](platform::DWORD, platform::DWORD message, std::uintptr_t, std::uintptr_t p1,
               std::uintptr_t p2, std::uintptr_t) { LineCallback(message, p1, p2); },
        "Telvane band", &devices);
    if (rc != 0) {
      Trace(TRACE_ERROR, "CBandMgr::Initialize lineInitialize(%s)", platform::LineErrorName(rc));
      lineApp_ = 0;
      return;
    }
  }
  platform::LONG rc = platform::lineOpen(lineApp_, 0, &line_, platform::TAPI_VERSION_2_0, 0,
                                         reinterpret_cast<std::uintptr_t>(this),
                                         platform::LINECALLPRIVILEGE_NONE, 0, nullptr);
  if (rc != 0) {
    Trace(TRACE_ERROR, "CBandMgr::Initialize lineOpen(%s)", platform::LineErrorName(rc));
    line_ = 0;
  }
}

void CBandMgr::RefreshStatusChild(int force) {
  SetStatusValue(StatusOf(ReadOpMode()));
}

void CBandMgr::OnStatusChanged(int status, int mgrId, int reason) {
  RefreshStatus(0);
}

void CBandMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_TRACE, "CBandMgr::ProcessTimerNotification(%d)", param);
  ForceStatus(param, 0, 0, 0);
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
  resetResult_.store(0);
  bool failed;
  {
    std::lock_guard lock(lineMutex_);
    minimumRequest_ = platform::lineSetEquipmentState(line_, platform::LINEEQUIPSTATE_MINIMUM);
    failed = minimumRequest_ < 0;
  }
  if (failed) {
    ErrorEntry("Error turning off radio");
    resetResult_.store(-1);
    EndReset();
  }
}

void CBandMgr::EndReset() {
  resetRunning_.store(false);
  SetRequestAccepted(2);
  StatusEvent().Set();
}

void CBandMgr::LineCallback(platform::DWORD message, std::uintptr_t param1, std::uintptr_t param2) {
  if (message != platform::LINE_REPLY)
    return;
  auto id = static_cast<platform::LONG>(param1);
  auto result = static_cast<platform::LONG>(static_cast<std::intptr_t>(param2));
  enum { kOther, kMinimum, kFull, kRegister } kind = kOther;
  {
    std::lock_guard lock(lineMutex_);
    if (id == minimumRequest_)
      kind = kMinimum;
    else if (id == fullRequest_)
      kind = kFull;
    else if (id == registerRequest_)
      kind = kRegister;
  }
  Trace(TRACE_TRACE, "CBandMgr::LineCallback(%d, %d)", id, result);
  switch (kind) {
    case kMinimum: {
      bool failed;
      {
        std::lock_guard lock(lineMutex_);
        fullRequest_ = platform::lineSetEquipmentState(line_, platform::LINEEQUIPSTATE_FULL);
        failed = fullRequest_ < 0;
      }
      // A reset that cannot go on must not keep every later switch away.
      if (failed) {
        ErrorEntry("Error turning on radio");
        EndReset();
      }
      return;
    }
    case kFull: {
      UnlockSimWithPhonePins();
      bool failed;
      {
        std::lock_guard lock(lineMutex_);
        registerRequest_ = platform::lineRegister(line_, platform::LINEREGMODE_AUTOMATIC, "", 0);
        failed = registerRequest_ < 0;
      }
      if (failed) {
        ErrorEntry("Error registering line");
        EndReset();
      }
      return;
    }
    case kRegister:
      if (result != 0) {
        Trace(TRACE_ERROR, "CBandMgr register error(%d)", result);
      } else {
        UnlockSimWithPhonePins();
      }
      EndReset();
      return;
    case kOther:
      return;
  }
}

#include "managers/MobilePhoneMgr.h"

#include <vector>

#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "app/Trace.h"
#include "managers/BandMgr.h"
#include "managers/CallForwardMgr.h"
#include "platform/Beep.h"
#include "platform/Led.h"
#include "platform/Mosutil.h"
#include "platform/PowerStatus.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "platform/Window.h"

namespace {

std::atomic<CMobilePhoneMgr*> g_instance{nullptr};

constexpr platform::DWORD kRefusedPin = 1;
constexpr platform::DWORD kRefusedPin2 = 2;

constexpr const char* kPhoneKey = "System\\State\\Phone";

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

// One severity-3 entry whose summary and description are the same fixed text.
void ErrorEntry(const char* text) {
  CEventLog::Add(MGR_ID_PHONE, CEventLog::LEVEL_WARNING, text, text);
}

}  // namespace

CMobilePhoneMgr::CMobilePhoneMgr() : CMgr(MGR_ID_PHONE) {
  pin_ = ReadPin(kPinKey);
  pin2_ = ReadPin(kPin2Key);
  g_instance.store(this);
}

CMobilePhoneMgr::~CMobilePhoneMgr() {
  CMobilePhoneMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
  // No command may start a radio operation once the line is gone.
  Stop();
  if (broker_ && broker_ == CSystemStateBroker::GetInstance())
    broker_->RemoveListener(this);
  if (platform::HREGNOTIFY watch = statusWatch_.exchange(0))
    platform::RegistryCloseNotification(watch);
  if (platform::HREGNOTIFY watch = batteryWatch_.exchange(0))
    platform::RegistryCloseNotification(watch);
  // Waits for a reply that is still being handled.
  radio_.Close();
  if (platform::HSIM sim = sim_.exchange(0))
    platform::SimDeinitialize(sim);
}

CMobilePhoneMgr* CMobilePhoneMgr::GetInstance() {
  return g_instance.load();
}

std::string CMobilePhoneMgr::GetName() {
  return Text("EVENT_LOG_MGR_PHONE_NAME");
}

std::string CMobilePhoneMgr::GetStatusName(int status) {
  return status == PHONE_STATUS_ON ? Text("EVENT_LOG_MGR_PHONE_STATUS_ON")
                                   : Text("EVENT_LOG_MGR_PHONE_STATUS_OFF");
}

int CMobilePhoneMgr::GetGSMStatus() {
  platform::DWORD value = 0;
  if (platform::RegistryGetDWORD(platform::HKEY_LOCAL_MACHINE, kPhoneKey, "Status", &value) !=
      platform::S_OK) {
    return STATUS_DISABLED;
  }
  return (value & 0x10) ? PHONE_STATUS_OFF : PHONE_STATUS_ON;
}

void CMobilePhoneMgr::Initialize() {
  Trace(TRACE_TRACE, "CMobilePhoneMgr::Initialize");
  platform::HSIM sim = 0;
  if (platform::SimInitialize(0, nullptr, 0, &sim) != platform::S_OK)
    sim = 0;
  sim_.store(sim);
  if (ConfigChar(GetId()) == '0') {
    SetStatusValue(STATUS_DISABLED);
    return;
  }
  broker_ = CSystemStateBroker::GetInstance();
  if (broker_) {
    broker_->AddListener(this);
    platform::HREGNOTIFY watch = 0;
    if (broker_->Watch(platform::HKEY_LOCAL_MACHINE, kPhoneKey, "Status", 0x10, &watch,
                       CSystemStateBroker::MODE_QUEUE) == platform::S_OK) {
      statusWatch_.store(watch);
    }
    watch = 0;
    if (broker_->Watch(platform::HKEY_LOCAL_MACHINE, platform::kBatteryStateKey,
                       platform::kBatteryMainValue, 0xFFFF, &watch,
                       CSystemStateBroker::MODE_QUEUE) == platform::S_OK) {
      batteryWatch_.store(watch);
    }
  } else {
    Trace(TRACE_WARNING, "CMobilePhoneMgr::Initialize without a state broker");
  }
  UpdateExternalPower();
  UnlockSim();
  radio_.Open("Telvane");
}

void CMobilePhoneMgr::UpdateExternalPower() {
  platform::SYSTEM_POWER_STATUS_EX2 power;
  if (platform::GetSystemPowerStatusEx2(&power, sizeof power, 1) == 0)
    return;
  bool external = power.ACLineStatus == platform::AC_LINE_ONLINE;
  if (external != onExternalPower_.load()) {
    onExternalPower_.store(external);
    FireStatusChanged(0);
  }
}

void CMobilePhoneMgr::OnStateChanged(platform::HREGNOTIFY handle) {
  if (handle == 0)
    return;
  if (handle == statusWatch_.load()) {
    RefreshStatus(1);
  } else if (handle == batteryWatch_.load()) {
    UpdateExternalPower();
  }
}

void CMobilePhoneMgr::RefreshStatusChild(int force) {
  // The store writes the "changed" entry of an observed change, once.
  if (!SetStatusValue(GetGSMStatus()))
    return;
  CEventLog::Add(GetId(), CEventLog::LEVEL_DEBUG, "FireStatusChanged disabled",
                 "FireStatusChanged disabled");
  FireStatusChanged(0);
}

void CMobilePhoneMgr::ForceStatusChild(int requested, int minutes) {
  Trace(TRACE_TRACE, "CMobilePhoneMgr::ForceStatusChild(%d)", requested);
  if (GetStatus() == STATUS_UNKNOWN)
    SetStatusValue(GetGSMStatus());
  SetRequestAccepted(0);
  if (requested == GetStatus()) {
    StatusEvent().Set();
    return;
  }
  // Only on and off can be reached; anything else would start no operation and leave the
  // manager waiting for one for ever.
  if (requested != PHONE_STATUS_ON && requested != PHONE_STATUS_OFF) {
    Trace(TRACE_WARNING, "CMobilePhoneMgr::ForceStatusChild unknown status(%d)", requested);
    StatusEvent().Set();
    return;
  }
  if (operationRunning_.load()) {
    CEventLog::Add(GetId(), CEventLog::LEVEL_DEBUG, Text("EVENT_LOG_MGR_PHONE_OP_RUNNING_RESUME"),
                   Text("EVENT_LOG_MGR_PHONE_OP_RUNNING_DESCRIPTION"));
    StatusEvent().Set();
    return;
  }
  operationRunning_.store(true);
  if (requested == PHONE_STATUS_ON) {
    SetRadio(1);
  } else {
    if (CBandMgr* band = CBandMgr::GetInstance())
      band->SetForceSwitch(false);
    ClearTimeLimitNotification(-1);
    // A forwarding request still on its way needs the radio on.
    if (CCallForwardMgr* forward = CCallForwardMgr::GetInstance()) {
      if (!forward->WaitIdle(kForwardWaitMs))
        Trace(TRACE_WARNING, "CMobilePhoneMgr: forwarding still under way, switching off");
    }
    SetRadio(0);
  }
}

void CMobilePhoneMgr::SetRadio(int on) {
  Trace(TRACE_TRACE, "CMobilePhoneMgr::SetRadio(%d)", on);
  targetRadio_.store(on);
  operationRunning_.store(true);
  radio_.Start(on ? CRadioSequence::TARGET_ON : CRadioSequence::TARGET_OFF);
}

void CMobilePhoneMgr::SetRadioNow(int off) {
  SetRequestAccepted(0);
  SetRadio(off ? 0 : 1);
}

void CMobilePhoneMgr::OnRadioSequenceEnd() {
  targetRadio_.store(-1);
  operationRunning_.store(false);
  SetRequestAccepted(2);
  StatusEvent().Set();
}

bool CMobilePhoneMgr::OnRadioReply(platform::LONG id, Step step, platform::LONG result) {
  Trace(TRACE_TRACE, "LINE_REPLY");
  switch (step) {
    case STEP_MINIMUM:
      Trace(TRACE_DEBUG, "Event Energy Min(%d)", result);
      if (result != 0) {
        ErrorEntry("Error turning off radio");
        return false;
      }
      return true;
    case STEP_FULL:
      Trace(TRACE_DEBUG, "Event Energy Max(%d)", result);
      return result == 0;
    case STEP_REGISTER:
      Trace(TRACE_DEBUG, "Event registry(%d)", result);
      if (result != 0)
        ErrorEntry("Error registering");
      return true;
    case STEP_OTHER:
      break;
  }
  return true;
}

void CMobilePhoneMgr::OnRadioPoweredUp() {
  UnlockSim();
  Trace(TRACE_DEBUG, "Registrando linea");
}

void CMobilePhoneMgr::ProcessTimerNotification(int param) {
  Trace(TRACE_TRACE, "CMobilePhoneMgr::ProcessTimerNotification(%d)", param);
  CChangeCauseScope cause(TimeLimitCause());
  // The limit's parameter is the status to return to. Swapping would go the wrong way when the
  // switch the limit belongs to has not been observed yet, or the radio was switched meanwhile.
  if (param == PHONE_STATUS_ON || param == PHONE_STATUS_OFF)
    ForceStatus(param, 0, 0, 0);
  else
    SwapStatus(0);
  Trace(TRACE_TRACE, "CMobilePhoneMgr::ProcessTimerNotification(%d)", param);
}

void CMobilePhoneMgr::HandleCommandChild(int command, int value) {
  Trace(TRACE_TRACE, "CMobilePhoneMgr::HandleCommand(%d)", command);
}

void CMobilePhoneMgr::SwapStatus(int limit) {
  if (GetStatus() == PHONE_STATUS_ON) {
    ForceStatus(PHONE_STATUS_OFF, limit, 0, 0);
  } else {
    ForceStatus(PHONE_STATUS_ON, limit, 1, 0);
  }
}

platform::HRESULT CMobilePhoneMgr::TryPin(const std::string& pin, platform::DWORD refusedBit) {
  CRegistrySettings* settings = CRegistrySettings::Instance();
  if (settings->GetDWORD(kPinRefusedKey) & refusedBit) {
    // Offering it again would only use up one of the SIM's few attempts.
    Trace(TRACE_DEBUG, "CMobilePhoneMgr::UnlockSim skips a refused PIN(%u)", refusedBit);
    return platform::SIM_E_INCORRECTPASSWORD;
  }
  platform::HRESULT hr = platform::SimUnlockPhone(sim_.load(), pin, "");
  if (hr == platform::SIM_E_INCORRECTPASSWORD)
    settings->SetDWORD(kPinRefusedKey, settings->GetDWORD(kPinRefusedKey) | refusedBit);
  return hr;
}

void CMobilePhoneMgr::UnlockSim() {
  platform::HSIM sim = sim_.load();
  if (!sim)
    return;
  platform::DWORD state = 0;
  if (platform::SimGetPhoneLockedState(sim, &state) != platform::S_OK ||
      state != platform::SIM_LOCKEDSTATE_SIM_PIN) {
    return;
  }
  std::string pin, pin2;
  {
    std::lock_guard lock(pinMutex_);
    pin = pin_;
    pin2 = pin2_;
  }
  platform::HRESULT hr = TryPin(pin, kRefusedPin);
  if (hr != platform::S_OK) {
    platform::ProcesarError("%s", Text("ERROR UNLOCKING").c_str());
    if (hr == platform::SIM_E_INCORRECTPASSWORD) {
      bool alert = true;
      if (platform::Utf8Length(pin2) >= kMinPin2Chars)
        alert = TryPin(pin2, kRefusedPin2) == platform::SIM_E_INCORRECTPASSWORD;
      if (alert) {
        // The platform's prompt stays open for the user.
        platform::MessageBeep(platform::MB_ICONEXCLAMATION);
        BlinkLed(kWrongPinBlinkMs);
        return;
      }
    }
  }
  if (platform::HWND prompt = platform::FindWindow(platform::kSimPromptClass))
    platform::PostMessage(prompt, platform::WM_CLOSE, 0, 0);
}

void CMobilePhoneMgr::BlinkLed(int ms) {
  platform::NLED_SETTINGS_INFO info;
  info.LedNum = 1;
  info.OffOnBlink = platform::NLED_ON;
  platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &info);
  platform::Sleep(static_cast<platform::DWORD>(ms));
  info.OffOnBlink = platform::NLED_OFF;
  platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &info);
}

std::string CMobilePhoneMgr::ReadPin(const char* key) {
  std::vector<platform::BYTE> buffer(kMaxStoredPinBytes);
  platform::DWORD length = static_cast<platform::DWORD>(buffer.size());
  if (CRegistrySettings::Instance()->GetBinary(key, buffer.data(), &length) !=
      platform::ERROR_SUCCESS) {
    return "";
  }
  buffer.resize(length);
  std::string plain;
  if (!platform::Desencriptar(buffer, &plain))
    return "";
  return platform::Utf8Truncate(plain, kPinChars);
}

void CMobilePhoneMgr::StorePin(const char* key, platform::DWORD refusedBit, const std::string& pin,
                               std::string* field) {
  if (pin.empty())
    return;
  std::string kept = platform::Utf8Truncate(pin, kPinChars);
  {
    std::lock_guard lock(pinMutex_);
    *field = kept;
  }
  std::vector<std::uint8_t> enciphered = platform::Encriptar(kept);
  if (enciphered.empty()) {
    Trace(TRACE_ERROR, "CMobilePhoneMgr::SetPin could not protect the PIN");
    return;
  }
  CRegistrySettings* settings = CRegistrySettings::Instance();
  settings->SetBinary(key, enciphered.data(), static_cast<platform::DWORD>(enciphered.size()));
  // A new PIN may be offered to the SIM again.
  platform::DWORD refused = settings->GetDWORD(kPinRefusedKey);
  if (refused & refusedBit)
    settings->SetDWORD(kPinRefusedKey, refused & ~refusedBit);
}

void CMobilePhoneMgr::SetPin(const std::string& pin) {
  StorePin(kPinKey, kRefusedPin, pin, &pin_);
}

void CMobilePhoneMgr::SetPin2(const std::string& pin) {
  StorePin(kPin2Key, kRefusedPin2, pin, &pin2_);
}

void CMobilePhoneMgr::RunRadioTest(int cycles) {
  struct TestLine {
    std::mutex mutex;
    platform::HLINE line = 0;
    platform::LONG full = 0, minimum = 0, reg = 0;
    bool registerFailed = false;
    CAutoResetEvent answered;
  } test;
  auto callback = [&test](platform::DWORD, platform::DWORD message, std::uintptr_t,
                          std::uintptr_t p1, std::uintptr_t p2, std::uintptr_t) {
    if (message != platform::LINE_REPLY)
      return;
    Trace(TRACE_TRACE, "LINE_REPLY");
    auto id = static_cast<platform::LONG>(p1);
    auto result = static_cast<platform::LONG>(static_cast<std::intptr_t>(p2));
    std::lock_guard lock(test.mutex);
    if (id == test.full) {
      Trace(TRACE_DEBUG, "Event Energy Max(%d)", result);
      if (result == 0) {
        Trace(TRACE_DEBUG, "Registrando linea");
        test.reg = platform::lineRegister(test.line, platform::LINEREGMODE_AUTOMATIC, "", 0);
      }
      test.answered.Set();
    } else if (id == test.minimum) {
      Trace(TRACE_DEBUG, "Event Energy Min(%d)", result);
      test.answered.Set();
    } else if (id == test.reg) {
      Trace(TRACE_DEBUG, "Event registry(%d)", result);
      if (result != 0 && !test.registerFailed) {
        Trace(TRACE_DEBUG, "Error registering. Re registering...");
        test.registerFailed = true;
      }
      test.answered.Set();
    }
  };
  platform::HLINEAPP app = 0;
  platform::DWORD devices = 0;
  if (platform::lineInitialize(&app, 0, callback, "Telvane test", &devices) != 0)
    return;
  {
    std::lock_guard lock(test.mutex);
    platform::lineOpen(app, 0, &test.line, platform::TAPI_VERSION_2_0, 0, 0,
                       platform::LINECALLPRIVILEGE_NONE, 0, nullptr);
  }
  for (int i = 0; i < cycles; ++i) {
    Trace(TRACE_DEBUG, "Test %d", i);
    platform::LONG id;
    {
      std::lock_guard lock(test.mutex);
      bool full = i % 2 == 0;
      id = platform::lineSetEquipmentState(
          test.line, full ? platform::LINEEQUIPSTATE_FULL : platform::LINEEQUIPSTATE_MINIMUM);
      (full ? test.full : test.minimum) = id;
    }
    if (id > 0)
      test.answered.Wait(kRadioTestWaitMs);
  }
  Trace(TRACE_DEBUG, "Closing line");
  platform::lineClose(test.line);
  platform::lineShutdown(app);
}

// The simulated SIM manager and the platform's PIN prompt.
#include <memory>
#include <mutex>
#include <set>

#include "platform/Device.h"
#include "platform/HardwareEvents.h"
#include "platform/PhoneHardware.h"
#include "platform/SimManager.h"
#include "platform/TelephonyThread.h"
#include "platform/Window.h"

namespace platform {

namespace {

void ClosePrompt(const char* why);

// The PIN prompt. Its messages arrive under the window table's lock, so closing it is handed to
// the telephony thread.
class Prompt : public IWindowSink {
 public:
  void OnWindowMessage(UINT msg, WPARAM, LPARAM) override {
    if (msg == WM_CLOSE)
      telephony_thread::Post([] { ClosePrompt("closed"); });
  }
  HWND hwnd = 0;
  std::filesystem::path folder;
};

std::mutex g_mutex;
std::set<HSIM> g_handles;
HSIM g_next = 1;
std::unique_ptr<Prompt> g_prompt;
int g_subscription = 0;

void RecordPrompt(const char* what) {
  if (Device* dev = Device::Current())
    dev->AddActivity("sim_prompt", what);
}

// True when the prompt belongs to the device open now (a closed device took its windows along).
bool PromptIsCurrent() {
  Device* dev = Device::Current();
  return g_prompt && dev && g_prompt->folder == dev->Folder();
}

void ClosePrompt(const char* why) {
  std::lock_guard lock(g_mutex);
  if (!g_prompt)
    return;
  if (PromptIsCurrent()) {
    DestroyTopLevelWindow(g_prompt->hwnd);
    RecordPrompt(why);
  }
  g_prompt.reset();
}

void ShowPromptIfNeeded() {
  std::lock_guard lock(g_mutex);
  if (g_handles.empty() || PromptIsCurrent())
    return;
  g_prompt.reset();
  if (FindWindow(kSimPromptClass))
    return;  // another process shows it
  auto prompt = std::make_unique<Prompt>();
  prompt->folder = Device::Current()->Folder();
  prompt->hwnd = RegisterTopLevelWindow(kSimPromptClass, prompt.get());
  if (!prompt->hwnd)
    return;
  g_prompt = std::move(prompt);
  RecordPrompt("shown");
}

}  // namespace

namespace phone::detail {

void OnSimChanged(const std::string& payload) {
  if (!Device::Current())
    return;
  if (payload == "pin" || payload == "puk") {
    // Events arrive late: a SIM unlocked since this one was sent needs no prompt.
    std::string now = phone::SimState();
    if (now == "pin" || now == "puk")
      ShowPromptIfNeeded();
  } else if (payload == kSimUserUnlock) {
    ClosePrompt("unlocked by the user");
  }
}

}  // namespace phone::detail

HRESULT SimInitialize(DWORD flags, SIMCALLBACK callback, DWORD params, HSIM* sim) {
  if (!sim)
    return E_INVALIDARG;
  if (!Device::Current())
    return E_FAIL;
  phone::EnsureState();
  telephony_thread::Acquire();
  {
    std::lock_guard lock(g_mutex);
    *sim = g_next++;
    g_handles.insert(*sim);
    if (g_subscription == 0) {
      g_subscription = SubscribeHardwareEvent(phone::kSimEvent,
                                              [](const std::string&, const std::string& payload) {
                                                phone::detail::OnSimChanged(payload);
                                              });
    }
  }
  // A SIM that already waits for its PIN has its prompt up.
  phone::detail::OnSimChanged(phone::SimState());
  return S_OK;
}

HRESULT SimDeinitialize(HSIM sim) {
  bool last = false;
  int subscription = 0;
  {
    std::lock_guard lock(g_mutex);
    if (!g_handles.erase(sim))
      return E_INVALIDARG;
    last = g_handles.empty();
    if (last) {
      subscription = g_subscription;
      g_subscription = 0;
    }
  }
  if (last) {
    UnsubscribeHardwareEvent(subscription);
    // The process no longer hosts the SIM service, nor its prompt.
    ClosePrompt("closed");
  }
  telephony_thread::Release();
  return S_OK;
}

HRESULT SimGetPhoneLockedState(HSIM sim, DWORD* lockedState) {
  if (!lockedState)
    return E_INVALIDARG;
  {
    std::lock_guard lock(g_mutex);
    if (!g_handles.count(sim))
      return E_INVALIDARG;
  }
  std::string state = phone::SimState();
  *lockedState = state == "pin"   ? SIM_LOCKEDSTATE_SIM_PIN
                 : state == "puk" ? SIM_LOCKEDSTATE_SIM_PUK
                                  : SIM_LOCKEDSTATE_READY;
  return S_OK;
}

HRESULT SimUnlockPhone(HSIM sim, std::string_view password, std::string_view newPassword) {
  {
    std::lock_guard lock(g_mutex);
    if (!g_handles.count(sim))
      return E_INVALIDARG;
  }
  if (!newPassword.empty())
    return E_INVALIDARG;
  return phone::UnlockSimWithPin(std::string(password));
}

}  // namespace platform

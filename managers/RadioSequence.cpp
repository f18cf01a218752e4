#include "managers/RadioSequence.h"

#include <chrono>
#include <condition_variable>

#include "app/EventLog.h"
#include "app/Trace.h"

namespace {

// The sequence that drives the radio at the moment, if any.
std::mutex g_claimMutex;
std::condition_variable g_claimFree;
CRadioSequence* g_holder = nullptr;

}  // namespace

CRadioSequence::CRadioSequence(IRadioSequenceOwner* owner, int entryCode, std::string name)
    : owner_(owner), entryCode_(entryCode), name_(std::move(name)) {}

CRadioSequence::~CRadioSequence() {
  Close();
}

void CRadioSequence::Open(const char* appName) {
  std::lock_guard lock(lineMutex_);
  if (!lineApp_) {
    platform::DWORD devices = 0;
    platform::LONG rc = platform::lineInitialize(
        &lineApp_, 0,
        [this](platform::DWORD, platform::DWORD message, std::uintptr_t, std::uintptr_t p1,
               std::uintptr_t p2, std::uintptr_t) { OnLineMessage(message, p1, p2); },
        appName, &devices);
    if (rc != 0) {
      Trace(TRACE_ERROR, "%s::Initialize lineInitialize(%s)", name_.c_str(),
            platform::LineErrorName(rc));
      lineApp_ = 0;
      return;
    }
  }
  platform::LONG rc = platform::lineOpen(lineApp_, 0, &line_, platform::TAPI_VERSION_2_0, 0,
                                         reinterpret_cast<std::uintptr_t>(this),
                                         platform::LINECALLPRIVILEGE_NONE, 0, nullptr);
  if (rc != 0) {
    Trace(TRACE_ERROR, "%s::Initialize lineOpen(%s)", name_.c_str(), platform::LineErrorName(rc));
    line_ = 0;
  }
}

void CRadioSequence::Close() {
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
  // Waits for a reply that is still being handled; no later reply arrives.
  if (app)
    platform::lineShutdown(app);
  // A sequence cut short must not keep the other owner waiting.
  Release();
}

bool CRadioSequence::Start(Target target) {
  Claim();
  running_.store(true);
  target_.store(target);
  startRefused_.store(false);
  IRadioSequenceOwner::Step first =
      target == TARGET_ON ? IRadioSequenceOwner::STEP_FULL : IRadioSequenceOwner::STEP_MINIMUM;
  if (Request(first))
    return true;
  startRefused_.store(true);
  Refused(first);
  return false;
}

bool CRadioSequence::Request(IRadioSequenceOwner::Step step) {
  std::lock_guard lock(lineMutex_);
  switch (step) {
    case IRadioSequenceOwner::STEP_MINIMUM:
      minimumRequest_ = platform::lineSetEquipmentState(line_, platform::LINEEQUIPSTATE_MINIMUM);
      return minimumRequest_ >= 0;
    case IRadioSequenceOwner::STEP_FULL:
      fullRequest_ = platform::lineSetEquipmentState(line_, platform::LINEEQUIPSTATE_FULL);
      return fullRequest_ >= 0;
    case IRadioSequenceOwner::STEP_REGISTER:
      registerRequest_ = platform::lineRegister(line_, platform::LINEREGMODE_AUTOMATIC, "", 0);
      return registerRequest_ >= 0;
    case IRadioSequenceOwner::STEP_OTHER:
      break;
  }
  return false;
}

void CRadioSequence::Refused(IRadioSequenceOwner::Step step) {
  const char* text = step == IRadioSequenceOwner::STEP_MINIMUM ? "Error turning off radio"
                     : step == IRadioSequenceOwner::STEP_FULL  ? "Error turning on radio"
                                                               : "Error registering line";
  CEventLog::Add(entryCode_, CEventLog::LEVEL_WARNING, text, text);
  End();
}

void CRadioSequence::End() {
  target_.store(TARGET_NONE);
  running_.store(false);
  Release();
  owner_->OnRadioSequenceEnd();
}

void CRadioSequence::OnLineMessage(platform::DWORD message, std::uintptr_t param1,
                                   std::uintptr_t param2) {
  if (message != platform::LINE_REPLY)
    return;
  auto id = static_cast<platform::LONG>(param1);
  auto result = static_cast<platform::LONG>(static_cast<std::intptr_t>(param2));
  IRadioSequenceOwner::Step step = IRadioSequenceOwner::STEP_OTHER;
  {
    std::lock_guard lock(lineMutex_);
    if (id == minimumRequest_)
      step = IRadioSequenceOwner::STEP_MINIMUM;
    else if (id == fullRequest_)
      step = IRadioSequenceOwner::STEP_FULL;
    else if (id == registerRequest_)
      step = IRadioSequenceOwner::STEP_REGISTER;
  }
  bool goOn = owner_->OnRadioReply(id, step, result);
  switch (step) {
    case IRadioSequenceOwner::STEP_MINIMUM: {
      Target target = target_.load();
      if (!goOn || (target != TARGET_ON && target != TARGET_RESTART)) {
        End();
      } else if (!Request(IRadioSequenceOwner::STEP_FULL)) {
        Refused(IRadioSequenceOwner::STEP_FULL);
      }
      return;
    }
    case IRadioSequenceOwner::STEP_FULL:
      if (!goOn) {
        End();
        return;
      }
      owner_->OnRadioPoweredUp();
      if (!Request(IRadioSequenceOwner::STEP_REGISTER))
        Refused(IRadioSequenceOwner::STEP_REGISTER);
      return;
    case IRadioSequenceOwner::STEP_REGISTER:
      End();
      return;
    case IRadioSequenceOwner::STEP_OTHER:
      return;
  }
}

void CRadioSequence::Claim() {
  std::unique_lock lock(g_claimMutex);
  if (g_holder && g_holder != this) {
    Trace(TRACE_DEBUG, "%s waits for the radio sequence under way", name_.c_str());
    if (!g_claimFree.wait_for(lock, std::chrono::milliseconds(kClaimWaitMs),
                              [this] { return !g_holder || g_holder == this; })) {
      Trace(TRACE_WARNING, "%s: the radio sequence under way did not end, going on", name_.c_str());
    }
  }
  g_holder = this;
}

void CRadioSequence::Release() {
  {
    std::lock_guard lock(g_claimMutex);
    if (g_holder != this)
      return;
    g_holder = nullptr;
  }
  g_claimFree.notify_all();
}

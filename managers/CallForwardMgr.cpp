#include "managers/CallForwardMgr.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>

#include "app/Texts.h"
#include "app/Trace.h"
#include "platform/Telephony.h"
#include "platform/Text.h"

namespace {

std::atomic<CCallForwardMgr*> g_instance{nullptr};

std::string Text(const char* id) {
  return CTexts::GetInstance()->GetText(id);
}

void PutDword(CCallForwardMgr::ForwardList* list, std::size_t offset, platform::DWORD value) {
  for (std::size_t i = 0; i < 4; ++i)
    (*list)[offset + i] = static_cast<platform::BYTE>(value >> (8 * i));
}

// The reply to the one request of a SetForwarding call.
struct Reply {
  std::mutex mutex;
  std::condition_variable cv;
  platform::LONG id = 0;
  bool arrived = false;
  platform::LONG result = 0;
};

}  // namespace

CCallForwardMgr::CCallForwardMgr() : CMgr(MGR_ID_CALL_FORWARD) {
  g_instance.store(this);
}

CCallForwardMgr::~CCallForwardMgr() {
  CCallForwardMgr* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
  Stop();
}

CCallForwardMgr* CCallForwardMgr::GetInstance() {
  return g_instance.load();
}

std::string CCallForwardMgr::GetName() {
  return Text("EVENT_LOG_MGR_CALLFORWARD_NAME");
}

std::string CCallForwardMgr::GetStatusName(int status) {
  return status != 0 ? Text("EVENT_LOG_MGR_CALLFORWARD_STATUS_ON")
                     : Text("EVENT_LOG_MGR_CALLFORWARD_STATUS_OFF");
}

void CCallForwardMgr::SetForwardNumber(const std::string& number) {
  std::lock_guard lock(numberMutex_);
  forwardNumber_ = number;
}

std::string CCallForwardMgr::GetForwardNumber() {
  std::lock_guard lock(numberMutex_);
  return forwardNumber_;
}

void CCallForwardMgr::ForceStatus(int status, int minutes, int param, int delayMs) {
  // Exactly the requests that the framework queues as a status change.
  if (ConfigChar(GetId()) == '2' && status != 10)
    BeginRequest();
  CMgr::ForceStatus(status, minutes, param, delayMs);
}

void CCallForwardMgr::HandleCommandWorkerThread(int command, std::intptr_t param) {
  CMgr::HandleCommandWorkerThread(command, param);
  if (command == CMD_FORCE_STATUS)
    EndRequest();
}

void CCallForwardMgr::DiscardCommand(int command, std::intptr_t param) {
  CMgr::DiscardCommand(command, param);
  if (command == CMD_FORCE_STATUS)
    EndRequest();
}

void CCallForwardMgr::BeginRequest() {
  std::lock_guard lock(busyMutex_);
  ++busy_;
}

void CCallForwardMgr::EndRequest() {
  std::lock_guard lock(busyMutex_);
  if (busy_ > 0)
    --busy_;
  if (busy_ == 0)
    idle_.notify_all();
}

bool CCallForwardMgr::WaitIdle(int timeoutMs) {
  std::unique_lock lock(busyMutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return busy_ == 0; });
}

void CCallForwardMgr::ForceStatusChild(int status, int minutes) {
  SetForwarding(status, GetForwardNumber());
}

bool CCallForwardMgr::BuildForwardList(const std::string& number, ForwardList* list) {
  std::u16string units = platform::Utf8ToUtf16(number);
  if (units.size() > kMaxNumberUnits)
    return false;
  list->fill(0);
  PutDword(list, 0, static_cast<platform::DWORD>(kListBytes));  // total size
  PutDword(list, 4, 1);                                         // entries
  PutDword(list, 8, platform::LINEFORWARDMODE_UNCOND);
  // Caller address size and offset, destination country code: 0.
  PutDword(list, 24, static_cast<platform::DWORD>(kDestBytes));
  PutDword(list, 28, static_cast<platform::DWORD>(kDestOffset));
  for (std::size_t i = 0; i < units.size(); ++i) {
    (*list)[kDestOffset + 2 * i] = static_cast<platform::BYTE>(units[i] & 0xFF);
    (*list)[kDestOffset + 2 * i + 1] = static_cast<platform::BYTE>(units[i] >> 8);
  }
  return true;
}

void CCallForwardMgr::SetForwarding(int on, const std::string& number) {
  Trace(TRACE_TRACE, "CCallForwardMgr::SetForwarding(%d)", on);
  std::string copy = number;
  // Built as LINEFORWARDLIST words so the line reads it aligned.
  alignas(platform::LINEFORWARDLIST) ForwardList list;
  if (!BuildForwardList(copy, &list)) {
    if (on) {
      Trace(TRACE_ERROR, "CCallForwardMgr::SetForwarding number too long(%s)", copy.c_str());
      return;
    }
    list.fill(0);
  }
  BeginRequest();
  struct Ending {
    CCallForwardMgr* self;
    ~Ending() { self->EndRequest(); }
  } ending{this};
  auto reply = std::make_shared<Reply>();
  platform::HLINEAPP app = 0;
  platform::DWORD devices = 0;
  platform::LONG rc = platform::lineInitialize(
      &app, 0,
      [reply](platform::DWORD, platform::DWORD message, std::uintptr_t, std::uintptr_t p1,
              std::uintptr_t p2, std::uintptr_t) {
        if (message != platform::LINE_REPLY)
          return;
        std::lock_guard lock(reply->mutex);
        if (static_cast<platform::LONG>(p1) != reply->id)
          return;
        reply->arrived = true;
        reply->result = static_cast<platform::LONG>(static_cast<std::intptr_t>(p2));
        reply->cv.notify_all();
      },
      "Telvane forward", &devices);
  if (rc != 0) {
    Trace(TRACE_ERROR, "CCallForwardMgr::SetForwarding lineInitialize %s",
          platform::LineErrorName(rc));
    return;
  }
  platform::HLINE line = 0;
  rc = platform::lineOpen(app, 0, &line, platform::TAPI_VERSION_2_0, 0, 0,
                          platform::LINECALLPRIVILEGE_NONE, 0, nullptr);
  if (rc != 0) {
    Trace(TRACE_ERROR, "CCallForwardMgr::SetForwarding lineOpen %s", platform::LineErrorName(rc));
    platform::lineShutdown(app);
    return;
  }
  platform::HCALL consult = 0;
  {
    // Held while the request is made, so that an early reply finds its id.
    std::unique_lock lock(reply->mutex);
    rc = platform::lineForward(
        line, 0, 0, on ? reinterpret_cast<const platform::LINEFORWARDLIST*>(list.data()) : nullptr,
        1, &consult, nullptr);
    if (rc < 0) {
      Trace(TRACE_ERROR, "CCallForwardMgr::SetForwarding %s", platform::LineErrorName(rc));
    } else {
      reply->id = rc;
      // The request completes on the network; the line stays open until it has answered.
      if (!reply->cv.wait_for(lock, std::chrono::milliseconds(replyWaitMs_),
                              [&] { return reply->arrived; })) {
        Trace(TRACE_WARNING, "CCallForwardMgr::SetForwarding no reply");
      } else if (reply->result != 0) {
        Trace(TRACE_ERROR, "CCallForwardMgr::SetForwarding %s",
              platform::LineErrorName(reply->result));
      }
    }
  }
  platform::lineClose(line);
  platform::lineShutdown(app);
}

// The simulated telephony line: requests queue on this process's telephony thread, change the
// phone in the device store (PhoneHardware.h) and are answered with LINE_REPLY.
#include <atomic>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Device.h"
#include "platform/Json.h"
#include "platform/PhoneHardware.h"
#include "platform/Store.h"
#include "platform/Telephony.h"
#include "platform/TelephonyThread.h"
#include "platform/Text.h"

namespace platform {

namespace {

struct App {
  std::shared_ptr<LINECALLBACK> callback;
};

struct Line {
  HLINEAPP app;
  std::uintptr_t instance;
};

struct Request {
  enum Kind { kEquipment, kRegister, kForward, kTask } kind = kTask;
  HLINEAPP app = 0;
  std::uintptr_t instance = 0;
  LONG id = 0;
  DWORD state = 0;
  bool failInReply = false;
  bool hasList = false;
  std::string number;
  std::function<void()> task;
};

class Service {
 public:
  ~Service() {
    std::unique_lock lock(mutex_);
    stop_ = true;
    wake_.notify_all();
    std::thread t = std::move(thread_);
    lock.unlock();
    if (t.joinable())
      t.join();
  }

  std::mutex mutex_;
  std::condition_variable wake_;     // work queued, hold released, users gone, stop
  std::condition_variable changed_;  // a request was handled, the thread ended
  std::map<HLINEAPP, App> apps_;
  std::map<HLINE, Line> lines_;
  std::deque<Request> queue_;
  int users_ = 0;
  bool hold_ = false;
  bool stop_ = false;
  bool running_ = false;
  HLINEAPP busyApp_ = 0;
  std::thread thread_;
  std::thread::id threadId_;
  HLINEAPP nextApp_ = 1;
  HLINE nextLine_ = 1;

  void Run();
  LONG Execute(Request& request);
};

Service& S() {
  static Service service;
  return service;
}

std::atomic<LONG> g_nextRequest{1};

LONG NextRequestId() {
  LONG id = g_nextRequest.fetch_add(1);
  if (id <= 0 || id == INT_MAX) {
    g_nextRequest.store(2);
    id = 1;
  }
  return id;
}

std::string ResultText(LONG result) {
  return result == 0 ? "ok" : LineErrorName(result);
}

// Every request is recorded on the device, so that tests and the console see what was asked.
void Record(const std::string& detail) {
  if (Device* dev = Device::Current())
    dev->AddActivity("telephony", detail);
}

std::string EquipmentDetail(DWORD state, LONG result) {
  std::string name = state == LINEEQUIPSTATE_FULL      ? "full"
                     : state == LINEEQUIPSTATE_MINIMUM ? "minimum"
                                                       : std::to_string(state);
  return JsonText({{"request", "equipment"}, {"state", name}, {"result", ResultText(result)}});
}

std::string RegisterDetail(LONG result) {
  return JsonText({{"request", "register"}, {"result", ResultText(result)}});
}

std::string ForwardDetail(bool hasList, const std::string& number, LONG result) {
  return JsonText({{"request", "forward"},
                   {"list", hasList},
                   {"number", number},
                   {"result", ResultText(result)}});
}

LONG Service::Execute(Request& request) {
  if (request.kind == Request::kTask) {
    if (request.task)
      request.task();
    return 0;
  }
  LONG result = 0;
  try {
    switch (request.kind) {
      case Request::kEquipment:
        if (request.failInReply) {
          result = LINEERR_OPERATIONFAILED;
        } else if (!phone::SetRadioPower(request.state == LINEEQUIPSTATE_FULL)) {
          result = LINEERR_OPERATIONFAILED;
        }
        Record(EquipmentDetail(request.state, result));
        break;
      case Request::kRegister:
        if (request.failInReply || !phone::RegisterNetwork())
          result = LINEERR_OPERATIONFAILED;
        Record(RegisterDetail(result));
        break;
      case Request::kForward:
        result =
            request.failInReply ? LINEERR_OPERATIONFAILED : phone::SetCallForward(request.number);
        Record(ForwardDetail(request.hasList, request.number, result));
        break;
      case Request::kTask:
        break;
    }
  } catch (const StoreError&) {
    result = LINEERR_OPERATIONFAILED;
  }
  return result;
}

void Service::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || (!hold_ && !queue_.empty()) || users_ == 0; });
    if (stop_)
      break;
    if (hold_ || queue_.empty()) {
      if (users_ == 0)
        break;
      continue;
    }
    Request request = std::move(queue_.front());
    queue_.pop_front();
    busyApp_ = request.app;
    lock.unlock();
    LONG result = Execute(request);
    std::shared_ptr<LINECALLBACK> callback;
    if (request.kind != Request::kTask) {
      std::lock_guard look(mutex_);
      auto it = apps_.find(request.app);
      if (it != apps_.end())
        callback = it->second.callback;
    }
    // The application cannot go away meanwhile: lineShutdown waits while it is the busy one.
    if (callback) {
      (*callback)(0, LINE_REPLY, request.instance, static_cast<std::uintptr_t>(request.id),
                  static_cast<std::uintptr_t>(static_cast<std::intptr_t>(result)), 0);
    }
    lock.lock();
    busyApp_ = 0;
    changed_.notify_all();
  }
  running_ = false;
  threadId_ = std::thread::id();
  changed_.notify_all();
}

// Queues a request made on `line`; fills the application and instance. False for a bad line.
bool Enqueue(HLINE line, Request request) {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  auto it = s.lines_.find(line);
  if (it == s.lines_.end())
    return false;
  request.app = it->second.app;
  request.instance = it->second.instance;
  s.queue_.push_back(std::move(request));
  s.wake_.notify_all();
  return true;
}

bool IsLine(HLINE line) {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  return s.lines_.count(line) != 0;
}

bool IsDialable(const std::string& number) {
  if (number.empty())
    return false;
  for (unsigned char c : number) {
    if (!(std::isdigit(c) || c == '+' || c == '*' || c == '#'))
      return false;
  }
  return true;
}

// Reads the first destination of a forwarding list. 0, or the LINEERR_ code of the fault.
LONG ParseForwardList(const LINEFORWARDLIST* list, std::string* number) {
  const auto* bytes = reinterpret_cast<const BYTE*>(list);
  if (list->dwTotalSize < sizeof(LINEFORWARDLIST))
    return LINEERR_STRUCTURETOOSMALL;
  if (list->dwNumEntries < 1)
    return LINEERR_INVALPARAM;
  std::uint64_t entriesEnd =
      2 * sizeof(DWORD) + static_cast<std::uint64_t>(list->dwNumEntries) * sizeof(LINEFORWARD);
  if (entriesEnd > list->dwTotalSize)
    return LINEERR_STRUCTURETOOSMALL;
  const LINEFORWARD& entry = list->ForwardList[0];
  if (entry.dwForwardMode != LINEFORWARDMODE_UNCOND)
    return LINEERR_INVALPARAM;
  std::uint64_t end =
      static_cast<std::uint64_t>(entry.dwDestAddressOffset) + entry.dwDestAddressSize;
  if (entry.dwDestAddressSize < 2 || end > list->dwTotalSize)
    return LINEERR_INVALADDRESS;
  std::u16string units;
  bool terminated = false;
  for (DWORD i = 0; i + 1 < entry.dwDestAddressSize; i += 2) {
    const BYTE* p = bytes + entry.dwDestAddressOffset + i;
    char16_t unit = static_cast<char16_t>(p[0] | (p[1] << 8));
    if (unit == 0) {
      terminated = true;
      break;
    }
    units.push_back(unit);
  }
  if (!terminated)
    return LINEERR_INVALADDRESS;
  *number = Utf16ToUtf8(units);
  if (!IsDialable(*number))
    return LINEERR_INVALADDRESS;
  return 0;
}

}  // namespace

namespace telephony_thread {

void Acquire() {
  Service& s = S();
  std::unique_lock lock(s.mutex_);
  ++s.users_;
  if (s.running_)
    return;
  // A thread that ended by itself is joined before its successor starts.
  std::thread old = std::move(s.thread_);
  if (old.joinable()) {
    lock.unlock();
    old.join();
    lock.lock();
    if (s.running_)
      return;
  }
  s.running_ = true;
  s.thread_ = std::thread([&s] {
    {
      std::lock_guard started(s.mutex_);
      s.threadId_ = std::this_thread::get_id();
    }
    s.Run();
  });
}

void Release() {
  Service& s = S();
  std::unique_lock lock(s.mutex_);
  if (s.users_ > 0)
    --s.users_;
  s.wake_.notify_all();
  if (s.users_ > 0 || std::this_thread::get_id() == s.threadId_)
    return;
  s.changed_.wait(lock, [&] { return !s.running_ || s.users_ > 0; });
  if (s.running_)
    return;
  std::thread t = std::move(s.thread_);
  lock.unlock();
  if (t.joinable())
    t.join();
}

void Post(std::function<void()> task) {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  Request request;
  request.kind = Request::kTask;
  request.task = std::move(task);
  s.queue_.push_back(std::move(request));
  s.wake_.notify_all();
}

bool OnThread() {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  return s.running_ && std::this_thread::get_id() == s.threadId_;
}

}  // namespace telephony_thread

const char* LineErrorName(LONG code) {
  switch (code) {
    case LINEERR_BADDEVICEID:
      return "LINEERR_BADDEVICEID";
    case LINEERR_INCOMPATIBLEAPIVERSION:
      return "LINEERR_INCOMPATIBLEAPIVERSION";
    case LINEERR_INVALADDRESS:
      return "LINEERR_INVALADDRESS";
    case LINEERR_INVALAPPHANDLE:
      return "LINEERR_INVALAPPHANDLE";
    case LINEERR_INVALLINEHANDLE:
      return "LINEERR_INVALLINEHANDLE";
    case LINEERR_INVALPARAM:
      return "LINEERR_INVALPARAM";
    case LINEERR_INVALPOINTER:
      return "LINEERR_INVALPOINTER";
    case LINEERR_NOMEM:
      return "LINEERR_NOMEM";
    case LINEERR_OPERATIONFAILED:
      return "LINEERR_OPERATIONFAILED";
    case LINEERR_OPERATIONUNAVAIL:
      return "LINEERR_OPERATIONUNAVAIL";
    case LINEERR_RESOURCEUNAVAIL:
      return "LINEERR_RESOURCEUNAVAIL";
    case LINEERR_STRUCTURETOOSMALL:
      return "LINEERR_STRUCTURETOOSMALL";
    case LINEERR_UNINITIALIZED:
      return "LINEERR_UNINITIALIZED";
    default:
      return "LINEERR_UNKNOWN";
  }
}

LONG lineInitialize(HLINEAPP* app, std::uintptr_t instance, LINECALLBACK callback,
                    std::string_view appName, DWORD* numDevices) {
  if (!app || !callback)
    return LINEERR_INVALPOINTER;
  if (!Device::Current())
    return LINEERR_OPERATIONFAILED;
  phone::EnsureState();
  Service& s = S();
  {
    std::lock_guard lock(s.mutex_);
    *app = s.nextApp_++;
    s.apps_[*app] = App{std::make_shared<LINECALLBACK>(std::move(callback))};
  }
  telephony_thread::Acquire();
  if (numDevices)
    *numDevices = 1;
  return 0;
}

LONG lineShutdown(HLINEAPP app) {
  Service& s = S();
  {
    std::unique_lock lock(s.mutex_);
    auto it = s.apps_.find(app);
    if (it == s.apps_.end())
      return LINEERR_INVALAPPHANDLE;
    s.apps_.erase(it);
    for (auto line = s.lines_.begin(); line != s.lines_.end();) {
      line = line->second.app == app ? s.lines_.erase(line) : std::next(line);
    }
    // A reply being delivered to this application on another thread ends first.
    if (std::this_thread::get_id() != s.threadId_)
      s.changed_.wait(lock, [&] { return s.busyApp_ != app; });
  }
  telephony_thread::Release();
  return 0;
}

LONG lineOpen(HLINEAPP app, DWORD deviceId, HLINE* line, DWORD apiVersion, DWORD extVersion,
              std::uintptr_t callbackInstance, DWORD privileges, DWORD mediaModes,
              const void* callParams) {
  if (!line)
    return LINEERR_INVALPOINTER;
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  if (!s.apps_.count(app))
    return LINEERR_INVALAPPHANDLE;
  if (deviceId != 0)
    return LINEERR_BADDEVICEID;
  if (apiVersion != TAPI_VERSION_2_0)
    return LINEERR_INCOMPATIBLEAPIVERSION;
  *line = s.nextLine_++;
  s.lines_[*line] = Line{app, callbackInstance};
  return 0;
}

LONG lineClose(HLINE line) {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  return s.lines_.erase(line) ? 0 : LINEERR_INVALLINEHANDLE;
}

LONG lineSetEquipmentState(HLINE line, DWORD state) {
  if (!IsLine(line))
    return LINEERR_INVALLINEHANDLE;
  if (state != LINEEQUIPSTATE_MINIMUM && state != LINEEQUIPSTATE_FULL)
    return LINEERR_INVALPARAM;
  phone::Failure failure = phone::TakeTelephonyFailure();
  if (failure == phone::Failure::kNow) {
    Record(EquipmentDetail(state, LINEERR_OPERATIONFAILED));
    return LINEERR_OPERATIONFAILED;
  }
  Request request;
  request.kind = Request::kEquipment;
  request.id = NextRequestId();
  request.state = state;
  request.failInReply = failure == phone::Failure::kReply;
  LONG id = request.id;
  return Enqueue(line, std::move(request)) ? id : LINEERR_INVALLINEHANDLE;
}

LONG lineRegister(HLINE line, DWORD registerMode, std::string_view operatorId,
                  DWORD operatorFormat) {
  if (!IsLine(line))
    return LINEERR_INVALLINEHANDLE;
  if (registerMode != LINEREGMODE_AUTOMATIC)
    return LINEERR_OPERATIONUNAVAIL;
  phone::Failure failure = phone::TakeTelephonyFailure();
  if (failure == phone::Failure::kNow) {
    Record(RegisterDetail(LINEERR_OPERATIONFAILED));
    return LINEERR_OPERATIONFAILED;
  }
  Request request;
  request.kind = Request::kRegister;
  request.id = NextRequestId();
  request.failInReply = failure == phone::Failure::kReply;
  LONG id = request.id;
  return Enqueue(line, std::move(request)) ? id : LINEERR_INVALLINEHANDLE;
}

LONG lineForward(HLINE line, DWORD allAddresses, DWORD addressId, const LINEFORWARDLIST* list,
                 DWORD numRingsNoAnswer, HCALL* consultCall, const void* callParams) {
  if (!IsLine(line))
    return LINEERR_INVALLINEHANDLE;
  std::string number;
  if (list) {
    LONG fault = ParseForwardList(list, &number);
    if (fault != 0) {
      Record(ForwardDetail(true, number, fault));
      return fault;
    }
  }
  phone::Failure failure = phone::TakeTelephonyFailure();
  if (failure == phone::Failure::kNow) {
    Record(ForwardDetail(list != nullptr, number, LINEERR_OPERATIONFAILED));
    return LINEERR_OPERATIONFAILED;
  }
  if (consultCall)
    *consultCall = 0;
  Request request;
  request.kind = Request::kForward;
  request.id = NextRequestId();
  request.hasList = list != nullptr;
  request.number = number;
  request.failInReply = failure == phone::Failure::kReply;
  LONG id = request.id;
  return Enqueue(line, std::move(request)) ? id : LINEERR_INVALLINEHANDLE;
}

std::size_t PendingTelephonyRequests() {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  std::size_t n = 0;
  for (const auto& request : s.queue_)
    n += request.kind != Request::kTask;
  return n;
}

void HoldTelephonyReplies(bool hold) {
  Service& s = S();
  std::lock_guard lock(s.mutex_);
  s.hold_ = hold;
  s.wake_.notify_all();
}

}  // namespace platform

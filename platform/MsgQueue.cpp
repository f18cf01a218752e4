#include "platform/MsgQueue.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

struct Queue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<BYTE>> messages;
  DWORD flags = 0;
  DWORD maxMessages = 0;
  DWORD maxMessage = 0;
  int readers = 0;
  int writers = 0;
};

struct End {
  std::shared_ptr<Queue> queue;
  bool reader;
};

std::mutex g_mutex;
std::map<std::string, std::weak_ptr<Queue>> g_named;
std::map<HMSGQUEUE, End> g_handles;
HMSGQUEUE g_nextHandle = 1;

HMSGQUEUE AddEnd(const std::shared_ptr<Queue>& q, bool reader) {
  {
    std::lock_guard lock(q->mutex);
    (reader ? q->readers : q->writers)++;
  }
  HMSGQUEUE h = g_nextHandle++;
  g_handles[h] = End{q, reader};
  return h;
}

bool Lookup(HMSGQUEUE h, End* out) {
  std::lock_guard lock(g_mutex);
  auto it = g_handles.find(h);
  if (it == g_handles.end())
    return false;
  *out = it->second;
  return true;
}

template <class Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD timeoutMs,
             Pred pred) {
  if (timeoutMs == INFINITE) {
    cv.wait(lock, pred);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

}  // namespace

HMSGQUEUE CreateMsgQueue(std::string_view name, const MSGQUEUEOPTIONS& options) {
  if (options.cbMaxMessage == 0)
    return 0;
  std::lock_guard lock(g_mutex);
  std::shared_ptr<Queue> q;
  if (!name.empty()) {
    auto it = g_named.find(std::string(name));
    if (it != g_named.end())
      q = it->second.lock();
  }
  if (!q) {
    q = std::make_shared<Queue>();
    q->flags = options.dwFlags;
    q->maxMessages = options.dwMaxMessages;
    q->maxMessage = options.cbMaxMessage;
    if (!name.empty())
      g_named[std::string(name)] = q;
  }
  return AddEnd(q, options.bReadAccess != 0);
}

HMSGQUEUE OpenMsgQueue(HMSGQUEUE source, BOOL readAccess) {
  std::lock_guard lock(g_mutex);
  auto it = g_handles.find(source);
  if (it == g_handles.end())
    return 0;
  return AddEnd(it->second.queue, readAccess != 0);
}

BOOL CloseMsgQueue(HMSGQUEUE queue) {
  End end;
  {
    std::lock_guard lock(g_mutex);
    auto it = g_handles.find(queue);
    if (it == g_handles.end())
      return 0;
    end = it->second;
    g_handles.erase(it);
  }
  {
    std::lock_guard lock(end.queue->mutex);
    (end.reader ? end.queue->readers : end.queue->writers)--;
  }
  end.queue->changed.notify_all();
  return 1;
}

LONG ReadMsgQueue(HMSGQUEUE queue, void* buffer, DWORD size, DWORD* bytesRead, DWORD timeoutMs) {
  End end;
  if (!Lookup(queue, &end) || !end.reader)
    return ERROR_INVALID_HANDLE;
  Queue& q = *end.queue;
  std::unique_lock lock(q.mutex);
  if (q.messages.empty() && q.writers == 0)
    return ERROR_PIPE_NOT_CONNECTED;
  bool ready =
      WaitFor(q.changed, lock, timeoutMs, [&] { return !q.messages.empty() || q.writers == 0; });
  if (q.messages.empty())
    return ready ? ERROR_PIPE_NOT_CONNECTED : ERROR_TIMEOUT;
  auto& msg = q.messages.front();
  if (msg.size() > size)
    return ERROR_INSUFFICIENT_BUFFER;
  if (!msg.empty())
    std::memcpy(buffer, msg.data(), msg.size());
  if (bytesRead)
    *bytesRead = static_cast<DWORD>(msg.size());
  q.messages.pop_front();
  lock.unlock();
  q.changed.notify_all();
  return ERROR_SUCCESS;
}

LONG WriteMsgQueue(HMSGQUEUE queue, const void* data, DWORD size, DWORD timeoutMs) {
  End end;
  if (!Lookup(queue, &end) || end.reader)
    return ERROR_INVALID_HANDLE;
  Queue& q = *end.queue;
  if (size > q.maxMessage)
    return ERROR_INSUFFICIENT_BUFFER;
  std::unique_lock lock(q.mutex);
  if (q.readers == 0 && !(q.flags & MSGQUEUE_ALLOW_BROKEN))
    return ERROR_PIPE_NOT_CONNECTED;
  if (q.maxMessages != 0) {
    bool room =
        WaitFor(q.changed, lock, timeoutMs, [&] { return q.messages.size() < q.maxMessages; });
    if (!room)
      return ERROR_TIMEOUT;
  }
  auto* b = static_cast<const BYTE*>(data);
  q.messages.emplace_back(b, b + size);
  lock.unlock();
  q.changed.notify_all();
  return ERROR_SUCCESS;
}

}  // namespace platform

#include "platform/Requests.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/Device.h"
#include "platform/Endpoint.h"
#include "platform/HardwareEvents.h"

namespace platform {
namespace {

std::string DoneEvent(const std::string& event) {
  return event + "_done";
}

// "ID\tREST" split at the first tab; false when the id is not a number.
bool SplitId(const std::string& text, std::uint64_t* id, std::string* rest) {
  std::size_t tab = text.find('\t');
  if (tab == std::string::npos || tab == 0)
    return false;
  try {
    std::size_t used = 0;
    *id = std::stoull(text.substr(0, tab), &used);
    if (used != tab)
      return false;
  } catch (const std::exception&) {
    return false;
  }
  *rest = text.substr(tab + 1);
  return true;
}

}  // namespace

bool AskProcess(int pid, const std::string& event, const std::string& payload, DWORD timeoutMs,
                std::string* error, std::string_view peer) {
  Device* dev = Device::Current();
  if (!dev) {
    *error = "no device";
    return false;
  }
  // Shared with the subscription, which may still run after this function returned.
  struct Answer {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::string error;
  };
  static std::atomic<std::uint32_t> counter{0};
  const std::uint64_t id = (static_cast<std::uint64_t>(dev->endpoint().Pid()) << 32) | ++counter;
  auto answer = std::make_shared<Answer>();
  int subscription = SubscribeHardwareEvent(
      DoneEvent(event), [answer, id](const std::string&, const std::string& text) {
        std::uint64_t answered = 0;
        std::string answerError;
        if (!SplitId(text, &answered, &answerError) || answered != id)
          return;
        std::lock_guard lock(answer->mutex);
        answer->done = true;
        answer->error = answerError;
        answer->cv.notify_all();
      });
  const std::string who = peer.empty() ? "process " + std::to_string(pid) : std::string(peer);
  bool sent = SendHardwareEvent(pid, event, std::to_string(id) + "\t" + payload);
  bool answered = false;
  if (sent) {
    std::unique_lock lock(answer->mutex);
    answered = answer->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return answer->done; });
    *error = answered ? answer->error : "no answer from " + who;
  } else {
    *error = who + " does not run";
  }
  UnsubscribeHardwareEvent(subscription);
  return answered && error->empty();
}

int ServeRequests(const std::string& event,
                  std::function<void(std::uint64_t id, const std::string& payload)> onRequest) {
  return SubscribeHardwareEvent(
      event, [onRequest = std::move(onRequest)](const std::string&, const std::string& text) {
        std::uint64_t id = 0;
        std::string payload;
        if (SplitId(text, &id, &payload))
          onRequest(id, payload);
      });
}

void AnswerRequest(const std::string& event, std::uint64_t id, const std::string& error) {
  SendHardwareEvent(static_cast<int>(id >> 32), DoneEvent(event),
                    std::to_string(id) + "\t" + error);
}

}  // namespace platform

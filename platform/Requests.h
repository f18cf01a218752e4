// Requests to one process of the device that it answers: the device console asks the owner of a
// window to take a tap, a key or a picture, and waits until it has.
//
// A request travels as the hardware event `event` with the text "ID\tPAYLOAD" to the process
// asked; the answer comes back as the hardware event "<event>_done" with "ID\tERROR" (an empty
// error on success) to the requester only, whose pid is the upper half of the id.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace platform {

// Sends the request to `pid` and waits at most `timeoutMs` for its answer. False with `error`
// set when the process could not be reached, did not answer in time or answered with an error.
// `peer` names the process in the first two errors ("no answer from PEER"); "process PID" when
// empty. Any thread but the endpoint thread (which delivers the answer).
bool AskProcess(int pid, const std::string& event, const std::string& payload, DWORD timeoutMs,
                std::string* error, std::string_view peer = {});

// The answering side: `onRequest(id, payload)` is called on the endpoint thread for each request
// of `event`; the process handles it on its own thread and calls AnswerRequest with the id.
// Returns a subscription id for UnsubscribeHardwareEvent.
int ServeRequests(const std::string& event,
                  std::function<void(std::uint64_t id, const std::string& payload)> onRequest);
void AnswerRequest(const std::string& event, std::uint64_t id, const std::string& error);

}  // namespace platform

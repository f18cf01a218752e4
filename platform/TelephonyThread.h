// The simulated telephony thread of this process, shared by the telephony line and the SIM
// manager: requests and platform work run on it one at a time, in posting order.
//
// It runs while it has users (line applications, SIM-manager handles) and ends by itself when the
// last one leaves. Internal to the simulated services.
#pragma once

#include <functional>

namespace platform::telephony_thread {

// A user arrives (starting the thread when needed) or leaves. Release called off the thread waits
// until the thread has ended when it was the last user.
void Acquire();
void Release();
// Runs `task` on the thread after the work already queued. Needs a user.
void Post(std::function<void()> task);
bool OnThread();

}  // namespace platform::telephony_thread

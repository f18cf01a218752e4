// Hardware events: how a change made on the phone (the device console moved the serving cell, a
// call started, the network dropped a connection) reaches the simulated services of every
// process using the device.
//
// A service subscribes to an event name in its process; whoever changes the hardware state
// broadcasts the event with a small payload to every live process of the device. Callbacks run
// on the receiving process's endpoint thread, one event at a time, in arrival order; they must
// not block for long.
#pragma once

#include <functional>
#include <string>

namespace platform {

class Device;

using HardwareEventCallback =
    std::function<void(const std::string& event, const std::string& payload)>;

// Returns a subscription id for Unsubscribe. Several subscribers per event are allowed.
int SubscribeHardwareEvent(const std::string& event, HardwareEventCallback callback);
// Ends a subscription. Once it returns the callback is not called any more: a call under way on
// the endpoint thread is waited for (unless made from that callback).
void UnsubscribeHardwareEvent(int subscription);

// Sends the event to every live process of the current device, this one included. Returns the
// number of processes reached.
int BroadcastHardwareEvent(const std::string& event, const std::string& payload = "");

// Sends the event to one process of the current device. False when it has no live endpoint.
bool SendHardwareEvent(int pid, const std::string& event, const std::string& payload = "");

// Wiring used by Device::Open and Device::Close.
void InstallHardwareEventHandlers(Device& device);
void ResetHardwareEventSubscriptions();

}  // namespace platform

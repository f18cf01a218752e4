// What the application core needs from the main window. The user interface implements it; the
// core and its tests never see a window toolkit.
#pragma once

#include <string>

#include "platform/Types.h"

class ITimerNotificationTarget;

class IMainWindow {
 public:
  virtual ~IMainWindow() = default;

  // The platform handle of the main window (posted to by other processes and by workers).
  virtual platform::HWND GetHandle() const = 0;

  // Pushes a feature's status (ItemFeatureState) or the location numbers (ItemLocation) to the
  // home-screen item, when one has registered. Any thread; never blocks.
  virtual void SendFeatureState(int mgrId, int status) = 0;
  virtual void SendLocation(int first, int second) = 0;

  // Writes "current_place" and "current_frame" to the settings and tells the home-screen item
  // (ItemPlaceChanged) when one has registered. Any thread.
  virtual void PublishPlace(const std::string& place, const std::string& frame) = 0;

  // Refreshes the timed-notification diagnostics shown by the window. Any thread.
  virtual void RefreshNotificationDiagnostics() = 0;

  // Marks the window as closing and lets the next close proceed without asking the user (the
  // orderly self-restart). Any thread.
  virtual void SetCloseWithoutAsking() = 0;

  // Adds a target that every timed notification is offered to, in registration order.
  // User-interface thread, during start-up.
  virtual void AddTimerTarget(ITimerNotificationTarget* target) = 0;
};

// The infrared beam manager (id 50): switches the reception of incoming beams on and off by
// starting and stopping the phone's object-exchange service. The service's state is never read
// back, so the status stays at STATUS_UNKNOWN ("unknown") whatever is set.
//
// Threads: ForceStatusChild runs on the manager's command thread.
#pragma once

#include <string>

#include "app/Mgr.h"

inline constexpr int BEAM_STATUS_OFF = 0;
inline constexpr int BEAM_STATUS_ON = 1;

class CBeamMgr : public CMgr {
 public:
  CBeamMgr();
  ~CBeamMgr() override;

  // The manager published by its constructor; null when none exists.
  static CBeamMgr* GetInstance();

  void Initialize() override {}
  int GetId() const override { return MGR_ID_BEAM; }
  // The service is never read: the status stays as it is.
  void RefreshStatusChild(int force) override {}
  // 1 starts the service (then asks for its status), 0 stops it, anything else does nothing.
  // A service that cannot be opened is passed over silently.
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  std::string GetStatusName(int status) override;
};

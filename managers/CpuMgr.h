// CCpuMgr: puts the whole phone into a system power state (on, off, suspend, reset, ...). A
// command-only manager: it never reads the power state back, so its status stays at
// STATUS_UNKNOWN; a requested value is one POWER_STATE flag of platform/Power.h.
//
// Threads: ForceStatusChild runs on the worker's command thread. The schedule engine asks for a
// reset with a delay, so that the event log can be written first.
#pragma once

#include <string>

#include "app/Mgr.h"

class CCpuMgr final : public CMgr {
 public:
  CCpuMgr();
  ~CCpuMgr() override;

  // The manager constructed last, or null.
  static CCpuMgr* GetInstance();

  // No platform watch: a disabled manager shows STATUS_DISABLED.
  void Initialize() override;
  int GetId() const override { return MGR_ID_CPU; }
  // The power state is never read back.
  void RefreshStatusChild(int force) override {}
  // Failures of the platform are not reported.
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  // The state's plain name ("On state", "Off  state", ...), "unknwon state" for anything else.
  std::string GetStatusName(int status) override;
};

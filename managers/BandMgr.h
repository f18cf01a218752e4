// The band manager (id 5): shows and selects the network mode the radio runs in: automatic (0),
// 2G only (1) or 3G only (2), the device maker's value HKLM "\SOFTWARE\OEM\UMTS" "OpMode". The
// radio reads that value only when it restarts, so a change writes it and then resets the radio
// on the manager's own telephony line: equipment state minimum, full, then automatic network
// registration (the shared radio sequence, RadioSequence.h). Only one reset runs at a time.
//
// Threads:
// - ForceStatusChild runs on the manager's command thread and starts the reset.
// - The sequence's replies run on the telephony thread and carry the reset on to its end.
// - OnStatusChanged runs on the phone manager's firing thread.
// - SetForceSwitch is called by the user-interface thread and the phone manager's worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/Mgr.h"
#include "managers/RadioSequence.h"

inline constexpr int BAND_STATUS_AUTO = 0;
inline constexpr int BAND_STATUS_2G = 1;
inline constexpr int BAND_STATUS_3G = 2;

class CBandMgr : public CMgr, public IStatusListener, private IRadioSequenceOwner {
 public:
  static constexpr const char* kBandKey = "\\SOFTWARE\\OEM\\UMTS";
  static constexpr const char* kBandValue = "OpMode";

  CBandMgr();
  ~CBandMgr() override;

  // The manager published by its constructor; null when none exists.
  static CBandMgr* GetInstance();

  // The first reading and the manager's own line. User-interface thread, once.
  void Initialize() override;
  int GetId() const override { return MGR_ID_BAND; }
  void RefreshStatusChild(int force) override;
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override { ForceStatus(BAND_STATUS_3G, 0, 0, 0); }
  // A timed notification carries the mode to return to.
  void ProcessTimerNotification(int param) override;
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  std::string GetStatusName(int status) override;
  // "OpMode" as stored; -1 when the key or the value cannot be read.
  virtual int ReadOpMode();

  // IStatusListener: any change of the phone manager refreshes the band.
  void OnStatusChanged(int status, int mgrId, int reason) override;
  std::string GetListenerName() override { return "CBandMgr"; }

  // While set, a request for the mode already configured still resets the radio.
  void SetForceSwitch(bool force) { forceSwitch_.store(force); }
  bool GetForceSwitch() const { return forceSwitch_.load(); }
  bool IsResetRunning() const { return resetRunning_.load(); }
  // -1 after a reset that could not start; 0 otherwise.
  int GetResetResult() const { return radio_.StartRefused() ? -1 : 0; }

 private:
  void ResetRadio();
  // IRadioSequenceOwner: the replies' results are not examined; the SIM is unlocked with the
  // phone manager's PINs once the radio is up and again once it registered.
  bool OnRadioReply(platform::LONG id, Step step, platform::LONG result) override;
  void OnRadioPoweredUp() override;
  // Ends the reset: the flag cleared, outcome 2, the status event set.
  void OnRadioSequenceEnd() override;
  // The status for a stored mode: 0, 1, 2, anything else -1.
  static int StatusOf(int opMode);

  CRadioSequence radio_{this, MGR_ID_BAND, "CBandMgr"};
  std::atomic<bool> resetRunning_{false};
  std::atomic<bool> forceSwitch_{false};
};

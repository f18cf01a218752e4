// CSpeakerMgr: the phone's master sound mode (sound on, vibrate only, silent), read from and
// written to the platform's sound setting for all events, with an optional wave-out volume
// applied when sound is switched on.
//
// The platform gives no notice when the setting changes elsewhere (the phone's own settings,
// another program), so a polling thread reads it again every kPollIntervalMs and fires the
// listeners on a change.
//
// Threads: the polling thread calls RefreshStatus while the worker may run ForceStatusChild;
// the status is an atomic integer, the later write wins. SetVolumeLevel may be called from any
// thread (the schedule engine calls it just before it forces status 2). The destructor stops
// the polling thread and the worker before anything of the manager goes away.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/Mgr.h"
#include "platform/Types.h"

class CSpeakerMgr final : public CMgr {
 public:
  static constexpr int STATUS_SILENT = 0;
  static constexpr int STATUS_VIBRATE = 1;
  static constexpr int STATUS_ON = 2;
  static constexpr int kPollIntervalMs = 10000;
  // Volume steps: 1 (quietest) to 5 (full volume); 0 or less leaves the volume alone.
  static constexpr int kMaxVolumeLevel = 5;
  static constexpr int kVolumeNotSet = -1;

  // `pollIntervalMs` other than kPollIntervalMs is for tests.
  explicit CSpeakerMgr(int pollIntervalMs = kPollIntervalMs);
  ~CSpeakerMgr() override;

  // The manager constructed last, or null.
  static CSpeakerMgr* GetInstance();

  // The wave-out volume (both bytes of the low word, high word 0) for a volume step. A step
  // above kMaxVolumeLevel gives full volume, as kMaxVolumeLevel does.
  static platform::DWORD VolumeForLevel(int level);

  // No platform watch: a disabled manager shows STATUS_DISABLED.
  void Initialize() override;
  int GetId() const override { return MGR_ID_SPEAKER; }
  void RefreshStatusChild(int force) override;
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override { ForceStatus(STATUS_ON, 0, 0, 0); }
  // A time limit carries the status to return to.
  void ProcessTimerNotification(int param) override;
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  std::string GetStatusName(int status) override;

  // The volume step to apply the next time sound is switched on; it is kept afterwards.
  void SetVolumeLevel(int level) { volumeLevel_.store(level); }
  int GetVolumeLevel() const { return volumeLevel_.load(); }

 private:
  void Poll();

  std::atomic<int> volumeLevel_{kVolumeNotSet};
  const int pollIntervalMs_;
  std::mutex pollMutex_;
  std::condition_variable pollWake_;
  bool stopPolling_ = false;
  std::thread pollThread_;
};

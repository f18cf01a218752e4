// The phone-radio manager (id 3): shows whether the phone radio is on (status 0) or off (1) and
// switches it through the telephony line it keeps open for the program's life: equipment state
// full or minimum, then automatic network registration after switching on, unlocking the SIM
// with the PIN the user stored in the program when the SIM asks for it.
//
// A radio operation is asynchronous and only one runs at a time: the worker starts it, the
// telephony callback finishes it (OperationRunning, TargetRadio, the status event and the
// request's outcome 2). A second switch while one runs is recorded in the event log and dropped.
//
// Threads:
// - ForceStatusChild runs on the manager's command thread; it only starts the request.
// - The radio sequence's replies (OnRadioReply, OnRadioPoweredUp, OnRadioSequenceEnd) run on
//   the telephony thread; they continue and finish the operation.
// - OnStateChanged runs on the broker's thread: the radio's state value and the battery.
// - Initialize, SetPin/SetPin2, ProcessTimerNotification run on the user-interface thread.
// The radio's requests and their replies are the shared radio sequence's (RadioSequence.h); the
// PIN fields are guarded by their own lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/Mgr.h"
#include "app/SystemStateBroker.h"
#include "managers/RadioSequence.h"
#include "platform/SimManager.h"
#include "platform/Telephony.h"

inline constexpr int PHONE_STATUS_ON = 0;
inline constexpr int PHONE_STATUS_OFF = 1;

class CMobilePhoneMgr : public CMgr, public IStateListener, private IRadioSequenceOwner {
 public:
  // Characters a stored PIN keeps.
  static constexpr std::size_t kPinChars = 9;
  // Bytes of an enciphered PIN read back from the settings.
  static constexpr std::size_t kMaxStoredPinBytes = 100;
  // An alternative PIN shorter than this is never tried.
  static constexpr std::size_t kMinPin2Chars = 4;
  static constexpr int kWrongPinBlinkMs = 1000;
  static constexpr int kRadioTestCycles = 4000;
  // How long the radio test waits for each answer before it goes on.
  static constexpr int kRadioTestWaitMs = 30000;
  // How long switching off waits for a forwarding request under way (its reply wait and more).
  static constexpr int kForwardWaitMs = 15000;
  static constexpr const char* kPinKey = "pin";
  static constexpr const char* kPin2Key = "pin2";
  // Bits of the PINs that the SIM refused: 1 "pin", 2 "pin2". A refused PIN is not offered to the
  // SIM again until the user stores a new one, so the stored PINs alone never block the SIM.
  static constexpr const char* kPinRefusedKey = "pin_refused";

  CMobilePhoneMgr();
  ~CMobilePhoneMgr() override;

  // The manager published by its constructor; null when none exists.
  static CMobilePhoneMgr* GetInstance();

  // The SIM manager, the watches of the radio state and the battery, the external-power
  // reading, a first unlock of the SIM, and the line. User-interface thread, once.
  void Initialize() override;
  int GetId() const override { return MGR_ID_PHONE; }
  void RefreshStatusChild(int force) override;
  void RunTest() override { RunRadioTest(kRadioTestCycles); }
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override { ForceStatus(PHONE_STATUS_ON, 0, 0, 0); }
  void ProcessTimerNotification(int param) override;
  void HandleCommandChild(int command, int value) override;
  std::string GetName() override;
  std::string GetStatusName(int status) override;

  // The diagnostic radio cycle: `cycles` requests alternately full and minimum on a line of its
  // own, each waited for. Blocks the calling thread.
  virtual void RunRadioTest(int cycles);
  // Status 0 -> ForceStatus(1, limit, 0); any other -> ForceStatus(0, limit, 1).
  virtual void SwapStatus(int limit);
  // Starts the radio operation (1 on, 0 off) without the checks of ForceStatusChild. Waits
  // while the band manager's reset drives the radio, so it belongs on the command thread.
  virtual void SetRadio(int on);
  // Clears the request's outcome and starts switching off (`off` non-zero) or on.
  virtual void SetRadioNow(int off);

  bool IsOn() const { return GetStatus() == PHONE_STATUS_ON; }
  void SetOperationRunning(bool running) { operationRunning_.store(running); }
  bool IsOperationRunning() const { return operationRunning_.load(); }
  // 1 while switching on, 0 while switching off, -1 when no operation runs.
  int GetTargetRadio() const { return targetRadio_.load(); }
  using CMgr::IncrementEventCount;
  // 1 off, 0 on (bit 0x10 of "System\State\Phone" "Status"); -1 when it cannot be read.
  int GetGSMStatus();

  // When the SIM asks for its PIN: tries the stored PIN, then the alternative one, and closes the
  // platform's prompt; a wrong PIN is reported, and with no PIN left to try the user is alerted by
  // a beep and the LED. Any thread.
  void UnlockSim();
  // Stores a non-empty PIN (at most 9 characters), enciphered; an empty one changes nothing.
  void SetPin(const std::string& pin);
  void SetPin2(const std::string& pin);
  // Switches notification LED 1 on for `ms` milliseconds. Blocks the calling thread.
  static void BlinkLed(int ms);

  // Set by the main window's phone dialog: 1 when the user switched the radio off by hand.
  int GetManualOff() const { return manualOff_.load(); }
  void SetManualOff(int manualOff) { manualOff_.store(manualOff); }
  bool IsOnExternalPower() const { return onExternalPower_.load(); }

  void OnStateChanged(platform::HREGNOTIFY handle) override;

 private:
  // IRadioSequenceOwner: the replies' traces and entries; a failed power reply ends the
  // operation. The SIM is unlocked once the radio is up.
  bool OnRadioReply(platform::LONG id, Step step, platform::LONG result) override;
  void OnRadioPoweredUp() override;
  // Ends the operation: idle again, outcome 2, the status event set.
  void OnRadioSequenceEnd() override;
  // Reads the battery state; on a change of the external power stores it and fires.
  void UpdateExternalPower();
  // Offers one stored PIN to the SIM unless it was refused before; remembers a refusal.
  platform::HRESULT TryPin(const std::string& pin, platform::DWORD refusedBit);
  std::string ReadPin(const char* key);
  void StorePin(const char* key, platform::DWORD refusedBit, const std::string& pin,
                std::string* field);

  CRadioSequence radio_{this, MGR_ID_PHONE, "CMobilePhoneMgr"};
  std::mutex pinMutex_;  // guards the PIN fields
  std::atomic<platform::HSIM> sim_{0};
  std::atomic<bool> operationRunning_{false};
  std::atomic<int> targetRadio_{-1};
  std::atomic<bool> onExternalPower_{false};
  std::atomic<int> manualOff_{0};
  CSystemStateBroker* broker_ = nullptr;
  std::atomic<platform::HREGNOTIFY> statusWatch_{0};
  std::atomic<platform::HREGNOTIFY> batteryWatch_{0};
  std::string pin_;
  std::string pin2_;
};

// The radio's off / on / register sequence on a telephony line of its own, shared by the
// phone-radio manager (switching the radio off or on) and the band manager (restarting the radio
// so that it applies a new network mode).
//
// A sequence is asynchronous: Start makes the first request on the calling thread, the line's
// LINE_REPLY messages carry it on, one request at a time:
//   off:      equipment state minimum, end;
//   on:       equipment state full, automatic network registration, end;
//   restart:  minimum, full, registration, end.
// A request the line refuses at once writes one warning entry ("Error turning off radio", "Error
// turning on radio", "Error registering line") and ends the sequence. What a reply's result means
// is the owner's choice (IRadioSequenceOwner::OnRadioReply); the owner also unlocks the SIM once
// the radio is powered up, and learns when the sequence ends.
//
// There is one radio: while one sequence drives it, a sequence of another owner waits (at most
// kClaimWaitMs) before it makes its first request, so that a band change and a radio switch
// cannot interleave their requests (the restart would power up a radio just switched off).
//
// Threads: Open and Close on the owner's thread (Close waits for a reply under way); Start on the
// owner's command thread; replies and the owner's hooks on the telephony thread. The request ids
// are guarded by one lock, taken while a request is made and its id stored, so that an early
// reply always finds its id.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Telephony.h"

class CRadioSequence;

// What a manager adds to the sequence. Called on the telephony thread.
class IRadioSequenceOwner {
 public:
  enum Step { STEP_OTHER, STEP_MINIMUM, STEP_FULL, STEP_REGISTER };

  virtual ~IRadioSequenceOwner() = default;
  // Every LINE_REPLY of the line: the request id, the step it answers (STEP_OTHER for an id that
  // is not the sequence's) and its result (0 or a LINEERR_ code). False ends the sequence after
  // a minimum or full reply; a registration reply always ends it.
  virtual bool OnRadioReply(platform::LONG id, Step step, platform::LONG result) = 0;
  // The radio reached full power; the registration follows.
  virtual void OnRadioPoweredUp() = 0;
  // The sequence ended, whichever way; the radio is free for the next one.
  virtual void OnRadioSequenceEnd() = 0;
};

class CRadioSequence {
 public:
  enum Target { TARGET_NONE, TARGET_OFF, TARGET_ON, TARGET_RESTART };

  // How long a sequence waits for another owner's sequence to end before it goes on anyway.
  static constexpr int kClaimWaitMs = 30000;

  // `entryCode` is the event-log code of the warning entries; `name` tags traces.
  CRadioSequence(IRadioSequenceOwner* owner, int entryCode, std::string name);
  // Closes the line when Close was not called.
  ~CRadioSequence();
  CRadioSequence(const CRadioSequence&) = delete;
  CRadioSequence& operator=(const CRadioSequence&) = delete;

  // Starts the line application `appName` unless one runs, and opens line device 0; failures are
  // traced and leave the line closed (every request is then refused at once).
  void Open(const char* appName);
  // Closes the line and ends the line application; no reply arrives once it returned.
  void Close();

  // Starts a sequence towards `target`. While it runs, a new Start of the same owner changes the
  // target and makes its first request at once. False when that first request was refused (the
  // sequence has then ended already).
  bool Start(Target target);
  bool IsRunning() const { return running_.load(); }
  Target GetTarget() const { return target_.load(); }
  // True when the last Start's first request was refused at once.
  bool StartRefused() const { return startRefused_.load(); }

 private:
  void OnLineMessage(platform::DWORD message, std::uintptr_t param1, std::uintptr_t param2);
  // Requests the equipment state `state` or the registration; false when refused at once.
  bool Request(IRadioSequenceOwner::Step step);
  // A refused request: its warning entry, then the end.
  void Refused(IRadioSequenceOwner::Step step);
  void End();
  // Waits until no other owner's sequence drives the radio, then holds it.
  void Claim();
  void Release();

  IRadioSequenceOwner* const owner_;
  const int entryCode_;
  const std::string name_;
  std::mutex lineMutex_;  // guards the handles and the request ids
  platform::HLINEAPP lineApp_ = 0;
  platform::HLINE line_ = 0;
  platform::LONG minimumRequest_ = 0;
  platform::LONG fullRequest_ = 0;
  platform::LONG registerRequest_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<Target> target_{TARGET_NONE};
  std::atomic<bool> startRefused_{false};
};

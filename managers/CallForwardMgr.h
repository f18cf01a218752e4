// The call forwarding manager (id 51): switches unconditional forwarding of incoming voice calls
// on (to a number) or off through the telephony line. It only commands: the network's forwarding
// state is never read, so the status stays at the framework's initial value.
//
// Each request opens a line application and line of its own, sends the forwarding request, waits
// for its reply (at most ten seconds: the request completes on the network) and closes them again.
//
// Threads: SetForwarding blocks its caller for up to the wait; the main window calls it on the
// user-interface thread, ForceStatus runs it on the manager's command thread. SetForwardNumber may
// be called from any thread (the schedule engine sets the number before forcing a status).
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

#include "app/Mgr.h"
#include "platform/Types.h"

class CCallForwardMgr : public CMgr {
 public:
  // The forwarding list: a header with one unconditional entry, the destination at byte 56.
  static constexpr std::size_t kListBytes = 97;
  static constexpr std::size_t kDestOffset = 56;
  static constexpr std::size_t kDestBytes = 40;
  // UTF-16 units of a number that fit the destination with its terminator.
  static constexpr std::size_t kMaxNumberUnits = kDestBytes / 2 - 1;
  static constexpr int kReplyWaitMs = 10000;
  using ForwardList = std::array<platform::BYTE, kListBytes>;

  CCallForwardMgr();
  ~CCallForwardMgr() override;

  // The manager published by its constructor; null when none exists.
  static CCallForwardMgr* GetInstance();

  // Counts the request as under way from the moment it is queued (see WaitIdle).
  void ForceStatus(int status, int minutes, int param, int delayMs) override;
  using CMgr::ForceStatus;
  void Initialize() override {}
  int GetId() const override { return MGR_ID_CALL_FORWARD; }
  void RefreshStatusChild(int force) override {}
  // Forwarding on (any non-zero status) to ForwardNumber, or off.
  void ForceStatusChild(int status, int minutes) override;
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override;
  std::string GetStatusName(int status) override;

  // Forwards incoming calls to `number` (`on` non-zero) or cancels forwarding. Failures are
  // traced with their telephony error name; nothing is shown and the status does not change.
  // A number longer than the destination holds is refused with a trace, never sent cut short.
  virtual void SetForwarding(int on, const std::string& number);

  void SetForwardNumber(const std::string& number);
  std::string GetForwardNumber();

  // The forwarding list for `number`; false when the number does not fit.
  static bool BuildForwardList(const std::string& number, ForwardList* list);

  // Waits until no forwarding request is queued or under way, at most `timeoutMs`; false when
  // one still is. The phone manager waits here before it switches the radio off, because a
  // forwarding request needs the network: the schedule engine asks for forwarding first and for
  // the radio to go off right after, and the two managers' workers would otherwise race.
  bool WaitIdle(int timeoutMs);

  // Tests shorten the wait for the reply.
  void SetReplyWaitMs(int ms) { replyWaitMs_ = ms; }

 protected:
  void HandleCommandWorkerThread(int command, std::intptr_t param) override;
  void DiscardCommand(int command, std::intptr_t param) override;

 private:
  void BeginRequest();
  void EndRequest();

  std::mutex busyMutex_;
  std::condition_variable idle_;
  int busy_ = 0;  // requests queued or under way
  std::mutex numberMutex_;
  std::string forwardNumber_;
  int replyWaitMs_ = kReplyWaitMs;
};

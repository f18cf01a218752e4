// What the cell-tracker and schedule tests share: an installed device with the profile
// database open, stand-ins for managers that the program builds elsewhere, and waiting for
// conditions with a generous limit.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/Texts.h"
#include "app/TimerNotification.h"
#include "data/DB.h"
#include "data/StrLocation.h"
#include "location/CellHistory.h"
#include "platform/Registry.h"
#include "platform/Ril.h"
#include "platform/Time.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

namespace locationtest {

// Polls `pred` until it holds or `timeoutMs` passed.
template <class Pred>
bool WaitFor(Pred pred, int timeoutMs = 5000) {
  return testsupport::WaitUntil(pred, timeoutMs, 10);
}

// The event-log entries with `code`, oldest first.
inline std::vector<CEventLogRecord> LogEntries(int code) {
  std::vector<CEventLogRecord> out;
  auto records = CEventLog::GetInstance()->GetRecords();
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->code == code)
      out.push_back(*it);
  }
  return out;
}

// One ForceStatus call seen by a stand-in manager.
struct ForceCall {
  int mgrId;
  int status;
  int param;
  int delayMs;
  // The cause the request was made under.
  CChangeCause cause{};
};

// Every ForceStatus call of the stand-ins, in the order they were made.
class ForceLog {
 public:
  void Add(const ForceCall& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
  }
  std::vector<ForceCall> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::vector<ForceCall> calls_;
};

// A manager the program builds elsewhere, standing in with its id: it records the changes it is
// asked for and takes the requested status at once (never pausing for a requested delay). As
// the phone manager (id 3) its status follows the phone's radio.
class CStandInMgr : public CMgr {
 public:
  CStandInMgr(int id, ForceLog* log) : CMgr(id), log_(log) {}
  ~CStandInMgr() override { Stop(); }

  void Initialize() override {}
  void RefreshStatusChild(int force) override {
    if (GetId() == MGR_ID_PHONE)
      SetStatusValue(platform::ril::RadioIsOn() ? 0 : 1);
  }
  void ForceStatus(int status, int minutes, int param, int delayMs) override {
    if (log_) {
      const CChangeCause* cause = CChangeCauseScope::Current();
      log_->Add({GetId(), status, param, delayMs, cause ? *cause : CChangeCause::Button()});
    }
    CMgr::ForceStatus(status, minutes, param, 0);
  }
  using CMgr::ForceStatus;
  void ForceStatusChild(int status, int minutes) override { SetStatusValue(status); }
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int command, int value) override {}
  std::string GetName() override { return "StandIn" + std::to_string(GetId()); }

 private:
  ForceLog* log_;
};

// An installed device (settings, translations) with the profile database open.
class LocationFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"install"}), 0);
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
    CMgr::LoadConfig();
    CCellHistory::Release();
    CStrLocation::SetCellMode(false);
    // Handles kept from an earlier test's device mean nothing on this one.
    for (int id : {MGR_ID_RIL, MGR_ID_SCHEDULE_PERIOD, MGR_ID_SCHEDULE_LOCK})
      CLimitNotifications::Take(id);
    db = std::make_unique<CDB>();
    db->OpenDB();
  }
  void TearDown() override {
    db.reset();
    CCellHistory::Release();
    CEventLog::DestroyInstanceForTesting();
    platform::Clock::UseReal();
  }

  void SetSetting(const char* name, platform::DWORD value) {
    platform::RegistrySetDWORD(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvella\\Telvane", name,
                               value);
  }
  void SetRadio(bool on) {
    platform::RegistrySetDWORD(platform::HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status",
                               on ? 0 : 0x10);
  }

  TestDevice dev;
  std::unique_ptr<CDB> db;
};

}  // namespace locationtest

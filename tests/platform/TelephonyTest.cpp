// The simulated telephony line and SIM: asynchronous replies, the radio's state value, the band
// read at power-up, injected failures, forwarding lists, the SIM's PIN and its prompt, and the
// console commands that change the phone.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/PhoneHardware.h"
#include "platform/Registry.h"
#include "platform/SimManager.h"
#include "platform/Telephony.h"
#include "platform/Window.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

using testsupport::WaitUntil;

// A line application whose replies are collected.
class Line {
 public:
  Line() {
    EXPECT_EQ(lineInitialize(
                  &app_, 0,
                  [this](DWORD, DWORD msg, std::uintptr_t, std::uintptr_t p1, std::uintptr_t p2,
                         std::uintptr_t) {
                    std::lock_guard lock(mutex_);
                    if (msg == LINE_REPLY)
                      replies_.push_back({static_cast<LONG>(p1), static_cast<LONG>(p2)});
                    cv_.notify_all();
                  },
                  "test", nullptr),
              0);
    EXPECT_EQ(lineOpen(app_, 0, &line_, TAPI_VERSION_2_0, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr),
              0);
  }
  ~Line() {
    if (app_)
      lineShutdown(app_);
  }
  // The result of the reply to `id`; fails the test when none comes.
  LONG Reply(LONG id) {
    std::unique_lock lock(mutex_);
    LONG result = 1;
    bool got = cv_.wait_for(lock, std::chrono::seconds(5), [&] {
      for (auto& r : replies_) {
        if (r.first == id) {
          result = r.second;
          return true;
        }
      }
      return false;
    });
    EXPECT_TRUE(got) << "no reply to " << id;
    return result;
  }
  std::size_t ReplyCount() {
    std::lock_guard lock(mutex_);
    return replies_.size();
  }
  HLINE line() const { return line_; }
  HLINEAPP app() const { return app_; }
  void Shutdown() {
    lineShutdown(app_);
    app_ = 0;
  }

 private:
  HLINEAPP app_ = 0;
  HLINE line_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::pair<LONG, LONG>> replies_;
};

DWORD Status() {
  DWORD v = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Status", &v);
  return v;
}

std::string State(const char* name) {
  return Device::Current()->GetState(name).value_or("");
}

std::vector<std::string> TelephonyRecords() {
  std::vector<std::string> out;
  for (const auto& a : Device::Current()->Activities("telephony"))
    out.push_back(a.detail);
  return out;
}

// A forwarding list as the program lays it out: one unconditional entry, the number at 56.
std::vector<BYTE> ForwardList(const std::u16string& number, DWORD destSize = 40) {
  std::vector<BYTE> bytes(97, 0);
  auto put = [&](std::size_t at, DWORD v) { std::memcpy(&bytes[at], &v, 4); };
  put(0, 97);
  put(4, 1);
  put(8, LINEFORWARDMODE_UNCOND);
  put(24, destSize);
  put(28, 56);
  for (std::size_t i = 0; i < number.size() && 56 + 2 * i + 1 < bytes.size(); ++i) {
    bytes[56 + 2 * i] = static_cast<BYTE>(number[i] & 0xFF);
    bytes[56 + 2 * i + 1] = static_cast<BYTE>(number[i] >> 8);
  }
  return bytes;
}

const LINEFORWARDLIST* AsList(const std::vector<BYTE>& bytes) {
  return reinterpret_cast<const LINEFORWARDLIST*>(bytes.data());
}

class TelephonyThreadTest : public ::testing::Test {
 protected:
  TestDevice dev;
};

TEST_F(TelephonyThreadTest, EquipmentStateIsAnsweredLaterAndDrivesTheRadioStateValue) {
  Line a, b;
  LONG off = lineSetEquipmentState(a.line(), LINEEQUIPSTATE_MINIMUM);
  ASSERT_GT(off, 0);
  EXPECT_EQ(a.Reply(off), 0);
  EXPECT_EQ(Status() & 0x10, 0x10u);
  EXPECT_EQ(State(phone::kRadioState), "off");
  EXPECT_EQ(State(phone::kNetworkState), "none");

  LONG on = lineSetEquipmentState(a.line(), LINEEQUIPSTATE_FULL);
  ASSERT_GT(on, off);
  EXPECT_EQ(a.Reply(on), 0);
  EXPECT_EQ(Status() & 0x10, 0u);
  // Back under the same band with a ready SIM: the radio finds its network by itself.
  EXPECT_EQ(State(phone::kNetworkState), "registered");
  // Replies reach only the application that made the request.
  EXPECT_EQ(b.ReplyCount(), 0u);

  EXPECT_EQ(lineSetEquipmentState(a.line(), 3), LINEERR_INVALPARAM);
  EXPECT_EQ(lineSetEquipmentState(9999, LINEEQUIPSTATE_FULL), LINEERR_INVALLINEHANDLE);
  HLINE other;
  EXPECT_EQ(
      lineOpen(a.app(), 1, &other, TAPI_VERSION_2_0, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr),
      LINEERR_BADDEVICEID);
  EXPECT_EQ(lineOpen(a.app(), 0, &other, 0x00010004, 0, 0, LINECALLPRIVILEGE_NONE, 0, nullptr),
            LINEERR_INCOMPATIBLEAPIVERSION);
}

TEST_F(TelephonyThreadTest, ARadioRestartedUnderANewBandWaitsToBeRegistered) {
  Line line;
  ASSERT_EQ(line.Reply(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM)), 0);
  // The band is read only when the radio powers up.
  RegistrySetDWORD(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\OEM\\UMTS", "OpMode", 1);
  EXPECT_EQ(State(phone::kRadioModeState), "auto");
  ASSERT_EQ(line.Reply(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_FULL)), 0);
  EXPECT_EQ(State(phone::kRadioModeState), "2g");
  EXPECT_EQ(State(phone::kNetworkState), "none");

  ASSERT_EQ(line.Reply(lineRegister(line.line(), LINEREGMODE_AUTOMATIC, "", 0)), 0);
  EXPECT_EQ(State(phone::kNetworkState), "registered");
  EXPECT_EQ(State(phone::kNetworkModeState), "2g");

  // Registration needs the radio on.
  ASSERT_EQ(line.Reply(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM)), 0);
  EXPECT_EQ(line.Reply(lineRegister(line.line(), LINEREGMODE_AUTOMATIC, "", 0)),
            LINEERR_OPERATIONFAILED);
}

TEST_F(TelephonyThreadTest, InjectedFailuresComeAtOnceOrInTheReplyAndChangeNothing) {
  Line line;
  ASSERT_EQ(dev.Console({"fail", "telephony", "1"}), 0);
  EXPECT_EQ(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Status() & 0x10, 0u);

  std::string out;
  ASSERT_EQ(dev.Console({"fail", "telephony-reply", "1"}, &out), 0);
  EXPECT_EQ(out, "1\n");
  LONG id = lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM);
  ASSERT_GT(id, 0);
  EXPECT_EQ(line.Reply(id), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(Status() & 0x10, 0u);

  // The series is used up: the next request goes through.
  id = lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM);
  EXPECT_EQ(line.Reply(id), 0);
  EXPECT_EQ(Status() & 0x10, 0x10u);
  auto records = TelephonyRecords();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_NE(records[0].find("LINEERR_OPERATIONFAILED"), std::string::npos);
  EXPECT_NE(records[2].find("\"result\":\"ok\""), std::string::npos);
}

TEST_F(TelephonyThreadTest, ForwardingTakesTheListsNumberAndCancelsWithoutAList) {
  Line line;
  auto list = ForwardList(u"+34600111222");
  LONG id = lineForward(line.line(), 0, 0, AsList(list), 1, nullptr, nullptr);
  ASSERT_GT(id, 0);
  EXPECT_EQ(line.Reply(id), 0);
  EXPECT_EQ(phone::CallForward(), "+34600111222");
  std::string out;
  ASSERT_EQ(dev.Console({"state"}, &out), 0);
  EXPECT_NE(out.find("call_forward = +34600111222"), std::string::npos);

  EXPECT_EQ(line.Reply(lineForward(line.line(), 0, 0, nullptr, 1, nullptr, nullptr)), 0);
  EXPECT_EQ(phone::CallForward(), "off");

  // A destination without its terminator within the size, an empty one or one that is not a
  // number are refused at once.
  auto cut = ForwardList(u"12345678901234567890");
  EXPECT_EQ(lineForward(line.line(), 0, 0, AsList(cut), 1, nullptr, nullptr), LINEERR_INVALADDRESS);
  EXPECT_EQ(lineForward(line.line(), 0, 0, AsList(ForwardList(u"")), 1, nullptr, nullptr),
            LINEERR_INVALADDRESS);
  EXPECT_EQ(lineForward(line.line(), 0, 0, AsList(ForwardList(u"12ab")), 1, nullptr, nullptr),
            LINEERR_INVALADDRESS);
  auto outside = ForwardList(u"123", 60);
  EXPECT_EQ(lineForward(line.line(), 0, 0, AsList(outside), 1, nullptr, nullptr),
            LINEERR_INVALADDRESS);
  EXPECT_EQ(phone::CallForward(), "off");

  // The network cannot be reached with the radio off.
  ASSERT_EQ(line.Reply(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM)), 0);
  EXPECT_EQ(line.Reply(lineForward(line.line(), 0, 0, AsList(list), 1, nullptr, nullptr)),
            LINEERR_OPERATIONFAILED);
  EXPECT_EQ(phone::CallForward(), "off");
}

TEST_F(TelephonyThreadTest, NoReplyReachesAnApplicationAfterItsShutdown) {
  Line line;
  HoldTelephonyReplies(true);
  LONG id = lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM);
  ASSERT_GT(id, 0);
  EXPECT_EQ(Status() & 0x10, 0u);
  line.Shutdown();
  Line other;  // keeps the telephony thread busy with work
  HoldTelephonyReplies(false);
  // The request still takes effect on the phone.
  ASSERT_TRUE(WaitUntil([] { return (Status() & 0x10) != 0; }));
  EXPECT_EQ(line.ReplyCount(), 0u);
}

TEST_F(TelephonyThreadTest, ASimWithAPinAsksAtPowerUpAndBlocksAfterThreeWrongPins) {
  HSIM sim = 0;
  ASSERT_EQ(SimInitialize(0, nullptr, 0, &sim), S_OK);
  DWORD state = 0;
  ASSERT_EQ(SimGetPhoneLockedState(sim, &state), S_OK);
  EXPECT_EQ(state, SIM_LOCKEDSTATE_READY);
  EXPECT_EQ(FindWindow(kSimPromptClass), 0u);

  std::string out;
  ASSERT_EQ(dev.Console({"sim", "lock", "1234"}, &out), 0);
  EXPECT_EQ(out, "pin\n");
  ASSERT_EQ(SimGetPhoneLockedState(sim, &state), S_OK);
  EXPECT_EQ(state, SIM_LOCKEDSTATE_SIM_PIN);
  // The prompt comes up in the process that holds the SIM manager.
  ASSERT_TRUE(WaitUntil([] { return FindWindow(kSimPromptClass) != 0; }));

  // Not a PIN at all costs no attempt; a wrong one does.
  EXPECT_EQ(SimUnlockPhone(sim, "12", ""), SIM_E_INCORRECTPASSWORD);
  EXPECT_EQ(State(phone::kSimAttemptsState), "3");
  EXPECT_EQ(SimUnlockPhone(sim, "4321", ""), SIM_E_INCORRECTPASSWORD);
  EXPECT_EQ(State(phone::kSimAttemptsState), "2");
  EXPECT_EQ(SimUnlockPhone(sim, "1234", ""), S_OK);
  ASSERT_EQ(SimGetPhoneLockedState(sim, &state), S_OK);
  EXPECT_EQ(state, SIM_LOCKEDSTATE_READY);
  EXPECT_EQ(State(phone::kSimAttemptsState), "3");
  // Unlocking through the SIM manager leaves the prompt to be closed by whoever unlocked.
  HWND prompt = FindWindow(kSimPromptClass);
  ASSERT_NE(prompt, 0u);
  PostMessage(prompt, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([] { return FindWindow(kSimPromptClass) == 0; }));

  // Every power-up asks again.
  Line line;
  ASSERT_EQ(line.Reply(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_MINIMUM)), 0);
  ASSERT_EQ(line.Reply(lineSetEquipmentState(line.line(), LINEEQUIPSTATE_FULL)), 0);
  ASSERT_EQ(SimGetPhoneLockedState(sim, &state), S_OK);
  EXPECT_EQ(state, SIM_LOCKEDSTATE_SIM_PIN);
  EXPECT_NE(FindWindow(kSimPromptClass), 0u);
  EXPECT_EQ(State(phone::kNetworkState), "none");

  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(SimUnlockPhone(sim, "0000", ""), SIM_E_INCORRECTPASSWORD);
  ASSERT_EQ(SimGetPhoneLockedState(sim, &state), S_OK);
  EXPECT_EQ(state, SIM_LOCKEDSTATE_SIM_PUK);
  EXPECT_EQ(SimUnlockPhone(sim, "1234", ""), SIM_E_SIMBLOCKED);

  // The user unblocks it in the prompt, which closes; the radio finds its network again.
  ASSERT_EQ(dev.Console({"sim", "unlock"}, &out), 0);
  EXPECT_EQ(out, "ready\n");
  ASSERT_TRUE(WaitUntil([] { return FindWindow(kSimPromptClass) == 0; }));
  EXPECT_EQ(State(phone::kNetworkState), "registered");
  EXPECT_EQ(SimDeinitialize(sim), S_OK);
  EXPECT_EQ(SimGetPhoneLockedState(sim, &state), E_INVALIDARG);
}

TEST_F(TelephonyThreadTest, ConsoleSwitchesTheRadioAndCountsCalls) {
  std::string out, err;
  ASSERT_EQ(dev.Console({"radio"}, &out), 0);
  EXPECT_EQ(out, "on\n");
  ASSERT_EQ(dev.Console({"call", "start"}, &out), 0);
  EXPECT_EQ(out, "1\n");
  ASSERT_EQ(dev.Console({"call", "start"}, &out), 0);
  EXPECT_EQ(out, "2\n");
  DWORD calls = 0;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, "System\\State\\Phone", "Active Call Count", &calls);
  EXPECT_EQ(calls, 2u);
  ASSERT_EQ(dev.Console({"call", "end"}), 0);
  ASSERT_EQ(dev.Console({"call", "end"}), 0);
  EXPECT_NE(dev.Console({"call", "end"}, &out, &err), 0);
  EXPECT_NE(err.find("no call in progress"), std::string::npos);

  ASSERT_EQ(dev.Console({"radio", "off"}, &out), 0);
  EXPECT_EQ(out, "off\n");
  EXPECT_EQ(Status() & 0x10, 0x10u);
  EXPECT_NE(dev.Console({"call", "start"}, &out, &err), 0);
  EXPECT_NE(err.find("radio is off"), std::string::npos);
  EXPECT_NE(dev.Console({"radio", "sideways"}, &out, &err), 0);
  EXPECT_NE(dev.Console({"sim", "lock", "12x4"}, &out, &err), 0);

  ASSERT_EQ(dev.Console({"state"}, &out), 0);
  EXPECT_NE(out.find("radio = off"), std::string::npos);
  EXPECT_NE(out.find("sim = ready"), std::string::npos);
  EXPECT_NE(out.find("active_calls = 0"), std::string::npos);
}

}  // namespace

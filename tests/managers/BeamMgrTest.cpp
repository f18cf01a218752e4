// The infrared beam manager drives the object-exchange service without ever reading it back.
#include <gtest/gtest.h>

#include "managers/BeamMgr.h"
#include "managers/RadioTestSupport.h"
#include "platform/Mosutil.h"
#include "platform/Obex.h"

using namespace platform;
using radiotest::WaitUntil;

namespace {

class BeamMgrThreadTest : public radiotest::RadioFixture {
 protected:
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& a : dev.device().Activities("obex"))
      out.push_back(a.detail);
    return out;
  }
};

TEST_F(BeamMgrThreadTest, RequestsReachTheServiceWhileTheStatusStaysUnknown) {
  CBeamMgr beam;
  EXPECT_EQ(CMgr::GetMgr(MGR_ID_BEAM), &beam);
  beam.Initialize();
  beam.RefreshStatus(1);
  EXPECT_EQ(beam.GetStatus(), STATUS_UNKNOWN);

  beam.ForceStatus(BEAM_STATUS_ON, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Requests().size() == 2; }));
  EXPECT_EQ(Requests(),
            (std::vector<std::string>{R"({"request":"start"})", R"({"request":"status"})"}));
  EXPECT_EQ(GetObexServiceState(), "running");

  // An unknown status sends nothing; off sends the stop request alone.
  beam.ForceStatus(7, 0, 0, 0);
  beam.ForceStatus(BEAM_STATUS_OFF, 0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Requests().size() == 3; }));
  EXPECT_EQ(Requests().back(), R"({"request":"stop"})");
  EXPECT_EQ(GetObexServiceState(), "stopped");
  EXPECT_EQ(beam.GetStatus(), STATUS_UNKNOWN);
  EXPECT_EQ(beam.GetStatusName(STATUS_UNKNOWN), "unknown");
  EXPECT_EQ(beam.GetStatusName(BEAM_STATUS_ON),
            CTexts::GetInstance()->GetText("EVENT_LOG_MGR_BEAM_STATUS_ON"));
}

TEST_F(BeamMgrThreadTest, AMissingServiceIsPassedOverSilently) {
  CBeamMgr beam;
  ASSERT_TRUE(SetObexServiceState("absent"));
  beam.ForceStatusChild(BEAM_STATUS_ON, 0);
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(ListBoxes().empty());

  // The file is opened exclusively and closed after each request: a later request opens it
  // again.
  ASSERT_TRUE(SetObexServiceState("stopped"));
  beam.ForceStatusChild(BEAM_STATUS_ON, 0);
  beam.ForceStatusChild(BEAM_STATUS_OFF, 0);
  EXPECT_EQ(Requests().size(), 3u);
}

}  // namespace

// The real telvane re-applying the current place's data-connection action when the phone radio
// changes: the place's frame enables the connections, the user disables them behind the
// program's back, and switching the radio brings the place's setting back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Mosutil.h"
#include "platform/Ras.h"
#include "support/Programs.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// Office (area 300) from 08:00 to 10:00: entering sets the data connections to 1 (enabled, none
// connected).
const char* kProfileSet =
    "<?xml version=\"1.0\"?><Telvane>"
    "<place name=\"Unknown\" description=\"\" image=\"place_unknown.png\" id=\"0\"/>"
    "<place name=\"Office\" description=\"\" image=\"office.png\" id=\"1\"><lac id=\"300\"/>"
    "<schedule name=\"Work\" begin_hour=\"8\" begin_minute=\"0\" end_hour=\"10\" end_minute=\"0\">"
    "<action id=\"4\" type=\"0\" arg_int_1=\"1\"/>"
    "</schedule></place></Telvane>";

TEST(ConnectionsPlaceTest, RadioChangeReappliesThePlaceConnectionAction) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_EQ(dev.Console({"clock", "set", "2030-01-07 09:00:00"}), 0);
  ASSERT_EQ(dev.Console({"connections", "add", "GPRS", "--disabled"}), 0);
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_TRUE(telvane.ImportProfileSet(kProfileSet)) << telvane.TraceText();

  auto enabled = [] {
    auto entries = ListDialUpEntries();
    return !entries.empty() && entries[0].enabled;
  };
  ASSERT_EQ(dev.Console({"cell", "4711", "300"}), 0);
  ASSERT_TRUE(WaitUntil(enabled, 20000)) << telvane.TraceText();

  // Disabled behind the program's back, then the radio goes off: the place's action returns.
  ASSERT_EQ(dev.Console({"reg", "set", "HKLM", FindProviderKey("GPRS"), "enabled", "dword", "0"}),
            0);
  ASSERT_FALSE(enabled());
  ASSERT_EQ(dev.Console({"radio", "off"}), 0);
  EXPECT_TRUE(WaitUntil(enabled, 20000)) << telvane.TraceText();
}

}  // namespace

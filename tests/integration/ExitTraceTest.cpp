// The orderly exit of the real telvane traces the records' and tables' counters along with the
// painting and period-start counters.
#include <gtest/gtest.h>

#include "support/Programs.h"

namespace {

TEST(ExitTraceTest, TheExitTracesTheDatabaseCounters) {
  TestDevice dev;
  TelvaneProcess telvane{dev};
  ASSERT_TRUE(telvane.StartAndWaitUntilReady());
  ASSERT_EQ(dev.Console({"boxes", "answer", "yes"}), 0);
  ASSERT_EQ(dev.Console({"post", "MainWindow", "273", "1234", "0"}), 0);
  ASSERT_TRUE(telvane.WaitForExit());
  std::string trace = telvane.TraceText();
  for (const char* counter :
       {"CTablePlaces::CounterFindAndFill->", "CTablePlaces::CounterGetAllRecords->",
        "CTablePeriods::_iInvokeCounterGetAllRecords->",
        "CTablePeriods::CounterGetAllRecordsForPlace->",
        "CTablePeriods::CounterGetNumRecordsForPlace->",
        "CTablePeriods::_iInvokeCounterFindAndFill->", "CTableLAC::_iInvokeCounterFindAndFill->",
        "CTableLAC::_iInvokeCounterGetAllRecords->", "CStrBase::_iCounterCurrentInstances->",
        "CStrBase::_iCounterInstantiations->"}) {
    EXPECT_NE(trace.find(counter), std::string::npos) << counter;
  }
  // The run made records (the default rows at least), so the counters are the run's own.
  EXPECT_EQ(trace.find("CStrBase::_iCounterInstantiations->0\n"), std::string::npos);
  // They come before the end of the application object's destruction.
  EXPECT_LT(trace.find("CStrBase::_iCounterInstantiations->"),
            trace.find("-CAppConnMgr::-CAppConnMgr"));
}

}  // namespace

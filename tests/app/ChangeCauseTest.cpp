// The causes of status changes: their sentences in both languages, how a manager attributes a
// change it observes (its own request, one finishing later, or outside), and the event log's
// CSV export with the cause in its own column.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "app/App.h"
#include "app/ChangeCause.h"
#include "app/EventLog.h"
#include "app/Mgr.h"
#include "app/RegistrySettings.h"
#include "app/Texts.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "support/TestDevice.h"
#include "support/Wait.h"

using namespace platform;

namespace {

class ChangeCauseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(dev.Console({"install"}), 0);
    CTexts::ResetForTesting();
    CEventLog::DestroyInstanceForTesting();
    CMgr::LoadConfig();
  }
  void TearDown() override {
    CEventLog::DestroyInstanceForTesting();
    CTexts::ResetForTesting();
  }
  void UseLanguage(const std::string& tag) {
    RegistrySetString(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, "language", tag);
    CTexts::ResetForTesting();
  }
  std::vector<CEventLogRecord> Entries(int code) {
    std::vector<CEventLogRecord> out;
    auto records = CEventLog::GetInstance()->GetRecords();
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
      if (it->code == code)
        out.push_back(*it);
    }
    return out;
  }
  TestDevice dev;
};

TEST_F(ChangeCauseTest, EveryCauseReadsInBothLanguages) {
  const CChangeCause entering =
      CChangeCause::Schedule("Office", "Work(08:00-18:00)", false, false, 4711, 300, 2, 3);
  CChangeCause leavingLocked = entering;
  leavingLocked.leaving = true;
  leavingLocked.locked = true;
  const std::vector<CChangeCause> all = {
      CChangeCause::Button(),
      CChangeCause::Menu(),
      CChangeCause::Menu("Beam on"),
      entering,
      leavingLocked,
      CChangeCause::TimeLimit("Bluetooth", "Discoverable", "08:10"),
      CChangeCause::TimeLimit("Bluetooth", "Discoverable", ""),
      CChangeCause::CallStarted(),
      CChangeCause::CallEnded(),
      CChangeCause::RadioBack(),
      CChangeCause::Outside(),
  };
  struct Expected {
    const char* tag;
    std::string entering, leavingLocked, limit, outside;
  };
  const Expected languages[] = {
      {"en",
       "Cause: action 2 of 3 on entering the time frame Work(08:00-18:00) of place Office, chosen "
       "by cell 4711 in area 300.",
       "Cause: action 2 of 3 on leaving the time frame Work(08:00-18:00) of place Office, to which "
       "the phone is locked.",
       "Cause: the time limit ended; it undoes the change of Bluetooth to Discoverable made at "
       "08:10.",
       "Cause: the change came from outside Telvane."},
      {"es",
       "Causa: acción 2 de 3 al entrar en la franja horaria Work(08:00-18:00) del lugar Office, "
       "elegido por la celda 4711 del área 300.",
       "Causa: acción 2 de 3 al salir de la franja horaria Work(08:00-18:00) del lugar Office, al "
       "que está fijado el teléfono.",
       "Causa: terminó el límite de tiempo; deshace el cambio de Bluetooth a Discoverable hecho a "
       "las 08:10.",
       "Causa: el cambio vino de fuera de Telvane."},
  };
  for (const Expected& lang : languages) {
    UseLanguage(lang.tag);
    ASSERT_EQ(CTexts::GetInstance()->GetLoadedTag(), lang.tag);
    std::set<std::string> seen;
    for (const CChangeCause& cause : all) {
      std::string text = DescribeCause(cause);
      EXPECT_EQ(text.find(CTexts::kMissingText), std::string::npos) << lang.tag << ": " << text;
      EXPECT_EQ(text.find('%'), std::string::npos) << lang.tag << ": " << text;
      seen.insert(text);
    }
    EXPECT_EQ(seen.size(), all.size()) << lang.tag << ": every cause reads differently";
    EXPECT_EQ(DescribeCause(entering), lang.entering);
    EXPECT_EQ(DescribeCause(leavingLocked), lang.leavingLocked);
    EXPECT_EQ(DescribeCause(all[5]), lang.limit);
    EXPECT_EQ(DescribeCause(CChangeCause::Outside()), lang.outside);
  }
}

// A manager whose platform value the test sets, and whose changes may finish later.
class CauseMgr : public CMgr {
 public:
  CauseMgr() : CMgr(4) {}
  ~CauseMgr() override { Stop(); }
  void Initialize() override {}
  void RefreshStatusChild(int) override { SetStatusValue(platform.load()); }
  void ForceStatusChild(int status, int) override {
    if (!late.load())
      platform.store(status);
  }
  void SetSecondaryStatus() override {}
  void HandleCommandChild(int, int) override {}
  std::string GetName() override { return "Test"; }
  std::string GetStatusName(int status) override { return status == 1 ? "on" : "off"; }
  // The platform's own report of its value (another thread than the worker).
  void PlatformReports(int value) {
    platform.store(value);
    RefreshStatus(0);
  }
  std::atomic<int> platform{0};
  std::atomic<bool> late{false};
};

TEST_F(ChangeCauseTest, ObservedChangesAreTheRequestsUntilTheyComeFromOutside) {
  RegistrySetString(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, "mgr_config", "22222");
  CMgr::LoadConfig();
  CauseMgr mgr;
  mgr.RefreshStatus(0);
  const std::string outside = DescribeCause(CChangeCause::Outside());
  auto changed = [&] {
    std::vector<std::string> causes;
    for (const auto& e : Entries(4)) {
      if (e.level == CEventLog::LEVEL_DEBUG && !e.cause.empty())
        causes.push_back(e.cause);
    }
    return causes;
  };

  // By hand (the default), then a menu command: each change carries its request's cause, in
  // the requested entry and in the changed entry.
  mgr.ForceStatus(1, 0, 0, 0);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return changed().size() == 1; }, 5000, 5));
  mgr.ForceStatus(0, 0, 0, 0, CChangeCause::Menu("Off"));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return changed().size() == 2; }, 5000, 5));
  EXPECT_EQ(changed()[0], DescribeCause(CChangeCause::Button()));
  EXPECT_EQ(changed()[1], DescribeCause(CChangeCause::Menu("Off")));
  std::vector<CEventLogRecord> requested;
  for (const auto& e : Entries(4)) {
    if (e.level == CEventLog::LEVEL_INFO)
      requested.push_back(e);
  }
  ASSERT_EQ(requested.size(), 2u);
  EXPECT_EQ(requested[1].cause, DescribeCause(CChangeCause::Menu("Off")));
  EXPECT_EQ(requested[1].description, "A change of Test to the status off was requested " +
                                          DescribeCause(CChangeCause::Menu("Off")));

  // A change the platform finishes after the command: reported later on another thread, it is
  // still the request's.
  mgr.late.store(true);
  mgr.ForceStatus(1, 0, 0, 0, CChangeCause::CallStarted());
  // The command has run to its end (a command is counted when it is taken, before it runs).
  ASSERT_TRUE(mgr.WaitUntilDrained(5000));
  std::thread platformThread([&] { mgr.PlatformReports(1); });
  platformThread.join();
  ASSERT_EQ(changed().size(), 3u);
  EXPECT_EQ(changed()[2], DescribeCause(CChangeCause::CallStarted()));

  // Nobody asked for this one.
  mgr.PlatformReports(0);
  ASSERT_EQ(changed().size(), 4u);
  EXPECT_EQ(changed()[3], outside);
}

TEST_F(ChangeCauseTest, ATimeLimitNamesTheChangeItUndoes) {
  RegistrySetString(HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, "mgr_config", "22222");
  CMgr::LoadConfig();
  CauseMgr mgr;
  mgr.RefreshStatus(0);
  mgr.ForceStatus(1, 30, 0, 0);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return mgr.GetStatus() == 1; }, 5000, 5));
  CChangeCause limit = mgr.TimeLimitCause();
  EXPECT_EQ(limit.kind, CChangeCause::kTimeLimit);
  EXPECT_EQ(limit.manager, "Test");
  EXPECT_EQ(limit.status, "on");
  EXPECT_EQ(limit.since.size(), 5u);
  // Without a limited change of this process, the status in force is what is undone.
  CChangeCause again = mgr.TimeLimitCause();
  EXPECT_EQ(again.status, "on");
  EXPECT_TRUE(again.since.empty());
}

// Reads RFC 4180 text back into rows of fields.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false, fieldStarted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field.push_back(c);
      }
    } else if (c == '"' && !fieldStarted) {
      quoted = fieldStarted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
      fieldStarted = false;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      fieldStarted = false;
      rows.emplace_back();
      ++i;
    } else {
      field.push_back(c);
      fieldStarted = true;
    }
  }
  rows.pop_back();  // after the last line end
  return rows;
}

TEST_F(ChangeCauseTest, CsvKeepsEveryFieldWholeWithTheCauseInItsOwnColumn) {
  EXPECT_EQ(CEventLog::CsvField("plain text"), "plain text");
  EXPECT_EQ(CEventLog::CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CEventLog::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  // A place or message text a spreadsheet would run as a formula is kept as text.
  EXPECT_EQ(CEventLog::CsvField("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
  EXPECT_EQ(CEventLog::CsvField("@SUM(A1)"), "'@SUM(A1)");
  EXPECT_EQ(CEventLog::CsvField("a-b"), "a-b");

  CEventLog* log = CEventLog::GetInstance();
  log->Clear();
  const std::string tricky = "Place \"A\", floor 2\r\nsecond line";
  CEventLog::Add(301, CEventLog::LEVEL_INFO, "Entering " + tricky, "Plain description");
  CEventLog::Add(1, CEventLog::LEVEL_DEBUG, "Bluetooth is now on", "Bluetooth changed, from off",
                 "Cause: a call began.");
  std::vector<std::vector<std::string>> rows = ParseCsv(log->ExportCsv());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"time", "level", "code", "summary", "description", "cause"}));
  // Oldest first; the description column without the cause appended to it.
  ASSERT_EQ(rows[1].size(), 6u);
  EXPECT_EQ(rows[1][1], "INFO");
  EXPECT_EQ(rows[1][2], "301");
  EXPECT_EQ(rows[1][3], "Entering " + tricky);
  EXPECT_EQ(rows[1][5], "");
  ASSERT_EQ(rows[2].size(), 6u);
  EXPECT_EQ(rows[2][4], "Bluetooth changed, from off");
  EXPECT_EQ(rows[2][5], "Cause: a call began.");
  EXPECT_EQ(log->GetRecords().front().description,
            "Bluetooth changed, from off Cause: a call began.");

  // Written to a file as it is exported.
  std::string file = (dev.folder() / "export.csv").string();
  std::string error;
  ASSERT_TRUE(log->ExportCsvToFile(file, &error)) << error;
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), log->ExportCsv());
  EXPECT_FALSE(log->ExportCsvToFile((dev.folder() / "missing" / "x.csv").string(), &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace

namespace {

// The program's application object as far as the console's CSV request needs it: it serves the
// request, and a window of class MainWindow tells the console which process to ask.
class CsvApp : public CApp {
 public:
  CRegistrySettings* GetSettings() override { return CRegistrySettings::Instance(); }
  bool InitGUI() override { return true; }

 protected:
  int RunMessageLoop() override { return 0; }
};

TEST_F(ChangeCauseTest, TheConsolePrintsTheRunningProgramsLogAsCsv) {
  std::string out, err;
  EXPECT_NE(dev.Console({"log", "--csv"}, &out, &err), 0) << "no program runs";
  EXPECT_NE(err.find("does not run"), std::string::npos) << err;

  CsvApp app;
  platform::MessageQueueSink sink;
  platform::HWND window = platform::RegisterTopLevelWindow("MainWindow", &sink);
  ASSERT_NE(window, 0u);
  CEventLog::Add(1, CEventLog::LEVEL_DEBUG, "Bluetooth is now on", "Bluetooth changed",
                 "Cause: a call began.");
  ASSERT_EQ(dev.Console({"log", "--csv"}, &out, &err), 0) << err;
  EXPECT_EQ(out, CEventLog::GetInstance()->ExportCsv());
  EXPECT_NE(out.find(",Bluetooth changed,Cause: a call began.\r\n"), std::string::npos) << out;

  // Without --csv: the log file, one line per entry.
  ASSERT_EQ(dev.Console({"log"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("DEBUG. Bluetooth is now on. Bluetooth changed Cause: a call began..\r\n"),
            std::string::npos)
      << out;
  platform::DestroyTopLevelWindow(window);
}

}  // namespace

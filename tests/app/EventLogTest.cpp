// The event log (memory list, file format, rotation, listeners, worker command) and the base
// exception with its diagnostic LED.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/BaseException.h"
#include "app/EventLog.h"
#include "app/RegistrySettings.h"
#include "platform/Device.h"
#include "platform/Led.h"
#include "platform/Registry.h"
#include "platform/Time.h"
#include "support/TestDevice.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kLogPath = "\\Program Files\\Telvane\\log.txt";

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Little-endian bytes of a UTF-16 literal, built independently of the code under test.
std::string Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// Lines of a UTF-16LE file with ASCII content, split at CRLF; false when a line end is broken.
bool AsciiLines(const std::string& bytes, std::vector<std::string>* lines) {
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0)
      return false;
    text.push_back(bytes[i]);
  }
  lines->clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos)
      return false;
    std::string line = text.substr(start, end - start);
    if (line.find('\r') != std::string::npos || line.find('\n') != std::string::npos)
      return false;
    lines->push_back(line);
    start = end + 2;
  }
  return true;
}

class CountingListener : public IEventLogListener {
 public:
  void OnEventLogChanged(int count) override {
    std::lock_guard lock(mutex_);
    counts_.push_back(count);
    cv_.notify_all();
  }
  std::vector<int> Counts() {
    std::lock_guard lock(mutex_);
    return counts_;
  }
  bool WaitForCalls(std::size_t n) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 20s, [&] { return counts_.size() >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<int> counts_;
};

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::HKEY key = 0;
    ASSERT_EQ(
        platform::RegCreateKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
        platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    settings.SetString(CEventLog::kPathKey, kLogPath);
    settings.SetDWORD(CEventLog::kWriteToFileKey, 1);
    settings.SetDWORD(CEventLog::kMaxSizeKey, 256);
    settings.SetDWORD(CEventLog::kItemsScreenKey, 100);
  }
  void TearDown() override { platform::Clock::UseReal(); }

  std::filesystem::path Host(const std::string& devicePath) {
    return dev.device().HostPath(devicePath);
  }
  std::string LogBytes() { return ReadBytes(Host(kLogPath)); }
  std::string BakBytes() { return ReadBytes(Host("\\Program Files\\Telvane\\log.bak")); }

  TestDevice dev;
  CRegistrySettings settings;
};

// Suites with "Thread" in their name run in the sanitizer build.
using EventLogThreadTest = EventLogTest;

TEST_F(EventLogTest, WritesEachEntryAsOneUtf16LeLineWithCrlfAndNoByteOrderMark) {
  platform::SYSTEMTIME when{2007, 3, 5, 9, 8, 5, 1, 0};
  platform::Clock::UseVirtual(platform::SystemTimeToMs(when));
  CEventLog log;
  log.AddEntry(1, CEventLog::LEVEL_INFO, "A", "B");
  EXPECT_EQ(LogBytes(), Le(u"2007-03-09 08:05:01   INFO. A. B.\r\n"));

  platform::Clock::AdvanceVirtual(61'000);
  log.AddEntry(300, CEventLog::LEVEL_WARNING,
               "Se\xC3\xB1"
               "al",
               "\xE2\x82\xAC 5");
  EXPECT_EQ(LogBytes(), Le(u"2007-03-09 08:05:01   INFO. A. B.\r\n"
                           u"2007-03-09 08:06:02   WARNING. Se\u00F1al. \u20AC 5.\r\n"));

  CEventLogRecord newest;
  ASSERT_TRUE(log.GetRecord(0, &newest));
  EXPECT_EQ(newest.code, 300);
  EXPECT_EQ(newest.level, CEventLog::LEVEL_WARNING);
  EXPECT_EQ(newest.time.wMinute, 6);
  EXPECT_EQ(newest.time.wSecond, 2);
}

TEST_F(EventLogTest, LevelNamesAndAppendingToAnExistingFile) {
  std::filesystem::create_directories(Host(kLogPath).parent_path());
  std::ofstream(Host(kLogPath), std::ios::binary) << Le(u"old line\r\n");
  platform::Clock::UseVirtual(platform::SystemTimeToMs({2024, 1, 1, 2, 3, 4, 5, 0}));
  CEventLog log;
  for (int level : {0, 1, 4, 5, 9})
    log.AddEntry(0, level, "s", "d");
  EXPECT_EQ(LogBytes(), Le(u"old line\r\n"
                           u"2024-01-02 03:04:05   TRACE. s. d.\r\n"
                           u"2024-01-02 03:04:05   DEBUG. s. d.\r\n"
                           u"2024-01-02 03:04:05   ERROR. s. d.\r\n"
                           u"2024-01-02 03:04:05   FATAL. s. d.\r\n"
                           u"2024-01-02 03:04:05   UNKNOWN. s. d.\r\n"));
}

TEST_F(EventLogTest, LongEntryIsCutButKeepsItsOwnLine) {
  CEventLog log;
  log.AddEntry(1, CEventLog::LEVEL_INFO, std::string(600, 'x'), std::string(600, 'y'));
  log.AddEntry(1, CEventLog::LEVEL_INFO, "next", "entry");
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(LogBytes(), &lines));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size() + 2, CEventLog::kMaxLineChars);
  EXPECT_EQ(lines[0].back(), 'y');
  EXPECT_NE(lines[1].find("INFO. next. entry."), std::string::npos);
  // The entry in memory keeps its full texts.
  EXPECT_EQ(log.GetRecords()[1].summary.size(), 600u);
}

TEST_F(EventLogTest, KeepsOnlyTheNewestEntriesNewestFirst) {
  settings.SetDWORD(CEventLog::kItemsScreenKey, 3);
  CEventLog log;
  CountingListener listener;
  log.AddListener(&listener);
  for (int i = 1; i <= 5; ++i)
    log.AddEntry(i, 2, std::to_string(i), "");
  std::vector<std::string> summaries;
  for (const auto& record : log.GetRecords())
    summaries.push_back(record.summary);
  EXPECT_EQ(summaries, (std::vector<std::string>{"5", "4", "3"}));
  EXPECT_EQ(listener.Counts(), (std::vector<int>{1, 2, 3, 3, 3}));

  log.Clear();
  EXPECT_EQ(log.GetCount(), 0);
  EXPECT_EQ(listener.Counts().back(), 0);
  // Clearing the screen list leaves the file alone.
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(LogBytes(), &lines));
  EXPECT_EQ(lines.size(), 5u);

  log.RemoveListener(&listener);
  log.AddEntry(6, 2, "6", "");
  EXPECT_EQ(listener.Counts().size(), 6u);  // not told any more
}

TEST_F(EventLogTest, NoScreenItemsDropsEachEntryAtOnceButStillWritesIt) {
  settings.SetDWORD(CEventLog::kItemsScreenKey, 0);
  CEventLog log;
  CountingListener listener;
  log.AddListener(&listener);
  log.AddEntry(1, 2, "gone", "");
  EXPECT_EQ(log.GetCount(), 0);
  EXPECT_EQ(listener.Counts(), (std::vector<int>{0}));
  EXPECT_FALSE(LogBytes().empty());
}

TEST_F(EventLogTest, WritingSwitchedOffStillCreatesTheFileButWritesNothing) {
  settings.SetDWORD(CEventLog::kWriteToFileKey, 0);
  CEventLog log;
  log.AddEntry(1, 2, "kept", "in memory");
  EXPECT_TRUE(std::filesystem::exists(Host(kLogPath)));
  EXPECT_EQ(LogBytes(), "");
  EXPECT_EQ(log.GetCount(), 1);
  // The switch is read for every entry.
  settings.SetDWORD(CEventLog::kWriteToFileKey, 1);
  log.AddEntry(1, 2, "now", "written");
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(LogBytes(), &lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("now. written."), std::string::npos);
}

TEST_F(EventLogTest, RotationKeepsTheFileWithinItsBoundAndReplacesTheOldBackup) {
  settings.SetDWORD(CEventLog::kMaxSizeKey, 1);
  std::filesystem::create_directories(Host(kLogPath).parent_path());
  std::ofstream(Host("\\Program Files\\Telvane\\log.bak"), std::ios::binary) << "older backup";
  CEventLog log;
  int rotations = 0;
  for (int i = 0; i < 30; ++i) {
    std::string before = LogBytes();
    log.AddEntry(1, 2, "entry " + std::to_string(i), std::string(40, 'd'));
    std::string after = LogBytes();
    EXPECT_LE(after.size(), 1024u);
    if (after.size() < before.size()) {
      ++rotations;
      // The whole previous file moved to the backup; the new file holds only the new line.
      EXPECT_EQ(BakBytes(), before);
      std::vector<std::string> lines;
      ASSERT_TRUE(AsciiLines(after, &lines));
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("entry " + std::to_string(i) + "."), std::string::npos);
    }
  }
  EXPECT_GE(rotations, 2);
  EXPECT_NE(BakBytes(), "older backup");
}

TEST_F(EventLogTest, MaxSizeZeroKeepsTheNewestLineAndTheOneBefore) {
  settings.SetDWORD(CEventLog::kMaxSizeKey, 0);
  platform::Clock::UseVirtual(platform::SystemTimeToMs({2007, 3, 5, 9, 8, 5, 1, 0}));
  CEventLog log;
  for (const char* s : {"one", "two", "three"})
    log.AddEntry(1, 2, s, "x");
  EXPECT_EQ(LogBytes(), Le(u"2007-03-09 08:05:01   INFO. three. x.\r\n"));
  EXPECT_EQ(BakBytes(), Le(u"2007-03-09 08:05:01   INFO. two. x.\r\n"));
}

TEST_F(EventLogTest, RotatesIntoTheFileNamedByTheCurrentSetting) {
  settings.SetDWORD(CEventLog::kMaxSizeKey, 0);
  CEventLog log;
  log.AddEntry(1, 2, "first", "x");
  settings.SetString(CEventLog::kPathKey, "\\Logs\\events.log");
  log.AddEntry(1, 2, "second", "x");
  log.AddEntry(1, 2, "third", "x");
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(ReadBytes(Host("\\Logs\\events.log")), &lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("third"), std::string::npos);
  ASSERT_TRUE(AsciiLines(ReadBytes(Host("\\Logs\\events.bak")), &lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("second"), std::string::npos);
}

TEST_F(EventLogTest, MissingPathDefaultsToTheProgramFolderAndIsWrittenBack) {
  platform::HKEY key = 0;
  ASSERT_EQ(
      platform::RegOpenKeyEx(platform::HKEY_LOCAL_MACHINE, CRegistrySettings::kRootPath, &key),
      platform::ERROR_SUCCESS);
  platform::RegDeleteValue(key, CEventLog::kPathKey);
  platform::RegCloseKey(key);

  CEventLog log;
  EXPECT_EQ(settings.GetString(CEventLog::kPathKey), kLogPath);
  log.AddEntry(1, 2, "A", "B");
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(ReadBytes(dev.device().ProgramFolder() / "log.txt"), &lines));
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(EventLogTest, BackupNameReplacesTheLastThreeCharacters) {
  EXPECT_EQ(CEventLog::BackupPath("\\Program Files\\Telvane\\log.txt"),
            "\\Program Files\\Telvane\\log.bak");
  EXPECT_EQ(CEventLog::BackupPath("\\x\\events.log"), "\\x\\events.bak");
  EXPECT_EQ(CEventLog::BackupPath("\\x\\old.bak"), "\\x\\old.bak.bak");
}

TEST_F(EventLogTest, WorkerCommandZeroAddsTheRecordItCarries) {
  CEventLog log;
  CountingListener listener;
  log.AddListener(&listener);
  auto* record = new CEventLogRecord;
  record->code = 42;
  record->level = 3;
  record->summary = "queued";
  record->time = {2007, 3, 5, 9, 8, 5, 1, 0};
  log.PostCommand(CEventLog::kAddRecordCommand, 5000, reinterpret_cast<std::intptr_t>(record));
  ASSERT_TRUE(listener.WaitForCalls(1));
  log.RemoveListener(&listener);
  CEventLogRecord newest;
  ASSERT_TRUE(log.GetRecord(0, &newest));
  EXPECT_EQ(newest.code, 42);
  EXPECT_EQ(newest.summary, "queued");
  EXPECT_EQ(LogBytes(), Le(u"2007-03-09 08:05:01   WARNING. queued. .\r\n"));

  // Refused once stopped: the record is freed, not leaked (checked by the sanitizer build).
  log.Stop();
  log.PostCommand(CEventLog::kAddRecordCommand, 5000,
                  reinterpret_cast<std::intptr_t>(new CEventLogRecord));
  EXPECT_EQ(log.GetCount(), 1);
}

TEST_F(EventLogTest, ProcessWideLogAddsAndSurvivesShutdown) {
  CEventLog::DestroyInstanceForTesting();
  CEventLog::Add(300, 2, "start", "up");
  CEventLog* log = CEventLog::GetInstance();
  EXPECT_EQ(log->GetCount(), 1);
  CEventLog::Shutdown();
  EXPECT_EQ(log->GetCount(), 0);
  // Entries after the shut-down still reach the file.
  CEventLog::Add(300, 2, "late", "entry");
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(LogBytes(), &lines));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("late. entry."), std::string::npos);
  CEventLog::DestroyInstanceForTesting();
}

TEST_F(EventLogThreadTest, ConcurrentAddsFromManyThreadsKeepEveryLineWhole) {
  settings.SetDWORD(CEventLog::kItemsScreenKey, 50);
  CEventLog log;
  constexpr int kThreads = 4;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEach; ++i) {
        log.AddEntry(t, 2, "thread " + std::to_string(t), "entry " + std::to_string(i));
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  std::vector<std::string> lines;
  ASSERT_TRUE(AsciiLines(LogBytes(), &lines));
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(log.GetCount(), 50);
}

TEST_F(EventLogThreadTest, ListenersAndReadersRunAlongsideWriters) {
  settings.SetDWORD(CEventLog::kItemsScreenKey, 10);
  CEventLog log;
  CountingListener listener;
  log.AddListener(&listener);
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      for (const auto& record : log.GetRecords())
        EXPECT_FALSE(record.summary.empty());
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&log, t] {
      for (int i = 0; i < 20; ++i)
        log.AddEntry(t, 1, "w" + std::to_string(t), "d");
    });
  }
  auto* record = new CEventLogRecord;
  record->summary = "via worker";
  log.PostCommand(CEventLog::kAddRecordCommand, 5000, reinterpret_cast<std::intptr_t>(record));
  for (auto& w : writers)
    w.join();
  log.Stop();  // the queued record has been added once this returns
  done = true;
  reader.join();
  EXPECT_EQ(listener.Counts().size(), 61u);
  EXPECT_EQ(log.GetCount(), 10);
}

TEST_F(EventLogTest, BaseExceptionFormatsItsMessageWithinTheLimit) {
  CBaseException empty;
  EXPECT_EQ(empty.GetText(), "");
  CBaseException formatted("Error %d en %s", 7, "tabla");
  EXPECT_EQ(formatted.GetText(), "Error 7 en tabla");
  EXPECT_STREQ(formatted.what(), "Error 7 en tabla");
  CBaseException copy(formatted);
  EXPECT_EQ(copy.GetMessage(), "Error 7 en tabla");
  CBaseException longOne("%s", std::string(300, '\xC3').c_str());
  EXPECT_LE(longOne.GetText().size(), CBaseException::kMaxMessageChars);
  std::string n300;
  for (int i = 0; i < 300; ++i)
    n300 += "\xC3\xB1";
  CBaseException wide("%s", n300.c_str());
  EXPECT_EQ(wide.GetText().size(), 2 * CBaseException::kMaxMessageChars);
  // No LED without diagnostics.
  EXPECT_TRUE(dev.device().Activities("led").empty());
}

TEST_F(EventLogTest, BaseExceptionLightsLedOneForThreeSecondsWithDiagnosticsOn) {
  settings.SetDWORD(CRegistrySettings::kDebugInfo, 1);
  CRegistrySettings diagnostics;
  ASSERT_TRUE(CRegistrySettings::DebugInfo());
  auto start = std::chrono::steady_clock::now();
  try {
    throw CBaseException("fallo %d", 1);
  } catch (const CBaseException& e) {
    EXPECT_EQ(e.GetText(), "fallo 1");
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2900ms);
  auto leds = dev.device().Activities("led");
  ASSERT_EQ(leds.size(), 2u);
  EXPECT_EQ(leds[0].detail, "{\"led\":1,\"state\":\"on\"}");
  EXPECT_EQ(leds[1].detail, "{\"led\":1,\"state\":\"off\"}");
  EXPECT_EQ(platform::NLedGetState(1), "off");

  settings.SetDWORD(CRegistrySettings::kDebugInfo, 0);
  CRegistrySettings quiet;
}

TEST_F(EventLogTest, LedCallsRecordTheStateAndRejectUnknownLeds) {
  platform::NLED_COUNT_INFO count;
  ASSERT_TRUE(platform::NLedGetDeviceInfo(platform::NLED_COUNT_INFO_ID, &count));
  EXPECT_EQ(count.cLeds, platform::kLedCount);
  platform::NLED_SETTINGS_INFO blink;
  blink.LedNum = 0;
  blink.OffOnBlink = platform::NLED_BLINK;
  EXPECT_TRUE(platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &blink));
  EXPECT_EQ(dev.device().GetState("led0"), "blink");
  blink.LedNum = platform::kLedCount;
  EXPECT_FALSE(platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &blink));
  blink.LedNum = 1;
  blink.OffOnBlink = 7;
  EXPECT_FALSE(platform::NLedSetDevice(platform::NLED_SETTINGS_INFO_ID, &blink));
  EXPECT_EQ(dev.device().Activities("led").size(), 1u);
}

}  // namespace

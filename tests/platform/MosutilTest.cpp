// The utility library: date arithmetic, PIN protection, boxes and the library's log.

#include "platform/Mosutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/TestDevice.h"

using namespace platform;

namespace {

SYSTEMTIME At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  return st;
}

SYSTEMTIME Add(int64_t unit, int64_t count, const SYSTEMTIME& base) {
  SYSTEMTIME out{};
  EXPECT_TRUE(DT_AddDiff(&out, unit, count, base));
  return out;
}

std::string Text(const SYSTEMTIME& st) {
  return FormatSystemTime(st);
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

// ---- Date arithmetic ---------------------------------------------------------------------

TEST(DateArithmetic, AddingADayCrossesMonthAndYearEnds) {
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2023, 1, 31, 23, 30))), "2023-02-01 23:30:00");
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2023, 4, 30, 23, 30))), "2023-05-01 23:30:00");
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2023, 12, 31, 23, 30))), "2024-01-01 23:30:00");
  // 2024-01-01 was a Monday: the day of week follows the date.
  EXPECT_EQ(Add(DT_DAY, 1, At(2023, 12, 31, 23, 30)).wDayOfWeek, 1);
  EXPECT_EQ(Text(Add(DT_MINUTE, 45, At(2023, 12, 31, 23, 30))), "2024-01-01 00:15:00");
}

TEST(DateArithmetic, LeapDayIsCountedOnlyInLeapYears) {
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2024, 2, 28, 8, 0))), "2024-02-29 08:00:00");
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2023, 2, 28, 8, 0))), "2023-03-01 08:00:00");
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2100, 2, 28, 8, 0))), "2100-03-01 08:00:00");
  EXPECT_EQ(Text(Add(DT_DAY, 1, At(2000, 2, 28, 8, 0))), "2000-02-29 08:00:00");
  EXPECT_EQ(Text(Add(DT_DAY, 365, At(2024, 1, 1))), "2024-12-31 00:00:00");
  EXPECT_DOUBLE_EQ(DT_PeriodsBetween(DT_DAY, At(2024, 2, 28), At(2024, 3, 1)), 2.0);
  EXPECT_DOUBLE_EQ(DT_PeriodsBetween(DT_DAY, At(2023, 2, 28), At(2023, 3, 1)), 1.0);
}

TEST(DateArithmetic, NegativeCountsGoBack) {
  EXPECT_EQ(Text(Add(DT_DAY, -1, At(2024, 3, 1, 0, 10))), "2024-02-29 00:10:00");
  EXPECT_EQ(Text(Add(DT_MINUTE, -30, At(2024, 1, 1, 0, 10))), "2023-12-31 23:40:00");
  EXPECT_EQ(Text(Add(DT_SECOND, -1, At(2024, 1, 1))), "2023-12-31 23:59:59");
}

TEST(DateArithmetic, PeriodsBetweenTruncateToWholeUnits) {
  EXPECT_EQ(static_cast<int>(
                DT_PeriodsBetween(DT_SECOND, At(2024, 5, 5, 10, 0, 0), At(2024, 5, 5, 10, 0, 59))),
            59);
  EXPECT_DOUBLE_EQ(DT_PeriodsBetween(DT_MINUTE, At(2024, 5, 5, 10, 0), At(2024, 5, 5, 11, 30)),
                   90.0);
  EXPECT_DOUBLE_EQ(
      DT_PeriodsBetween(DT_MINUTE, At(2024, 5, 5, 10, 0, 0), At(2024, 5, 5, 10, 1, 30)), 1.5);
  EXPECT_DOUBLE_EQ(DT_PeriodsBetween(DT_MINUTE, At(2024, 5, 5, 11, 0), At(2024, 5, 5, 10, 0)),
                   -60.0);
  // The whole range of valid times: 73 cycles of 400 years (10665081 days) from 1601 to 30801,
  // then 9860 days to the last day of 30827.
  EXPECT_DOUBLE_EQ(DT_PeriodsBetween(DT_DAY, At(1601, 1, 1), At(30827, 12, 31)), 10674941.0);
}

TEST(DateArithmetic, RefusesInvalidInputAndResultsOutOfRange) {
  SYSTEMTIME out = At(2000, 1, 1);
  EXPECT_FALSE(DT_AddDiff(&out, DT_DAY, 1, SYSTEMTIME{}));
  EXPECT_FALSE(DT_AddDiff(&out, DT_DAY, 1, At(2023, 2, 29)));
  EXPECT_FALSE(DT_AddDiff(&out, DT_DAY, -1, At(1601, 1, 1)));
  EXPECT_FALSE(DT_AddDiff(&out, DT_DAY, INT64_MAX, At(2024, 1, 1)));
  EXPECT_EQ(Text(out), "2000-01-01 00:00:00");
  EXPECT_EQ(DT_PeriodsBetween(0, At(2024, 1, 1), At(2024, 1, 2)), 0.0);
  EXPECT_EQ(DT_PeriodsBetween(DT_DAY, SYSTEMTIME{}, At(2024, 1, 2)), 0.0);
}

// ---- PIN protection ----------------------------------------------------------------------

class PinCipherTest : public ::testing::Test {
 protected:
  std::filesystem::path KeyPath() { return dev.folder() / "pin.key"; }
  TestDevice dev;
};

TEST_F(PinCipherTest, RoundTripGivesBackThePin) {
  for (std::string pin : {"1234", "", "00000000", "pín€"}) {
    std::vector<uint8_t> sealed = Encriptar(pin);
    ASSERT_FALSE(sealed.empty());
    std::string back = "unchanged";
    ASSERT_TRUE(Desencriptar(sealed, &back)) << pin;
    EXPECT_EQ(back, pin);
  }
}

TEST_F(PinCipherTest, StoredBytesHideThePinAndDifferEachTime) {
  const std::string pin = "4711";
  std::vector<uint8_t> a = Encriptar(pin), b = Encriptar(pin);
  EXPECT_NE(a, b);
  std::string bytes(a.begin(), a.end());
  EXPECT_EQ(bytes.find(pin), std::string::npos);
  EXPECT_GT(a.size(), pin.size());
}

TEST_F(PinCipherTest, AlteredOrShortDataIsRefused) {
  std::vector<uint8_t> sealed = Encriptar("2580");
  // Every single flipped bit, whether in the nonce, the tag or the ciphertext.
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    std::vector<uint8_t> bad = sealed;
    bad[i] ^= 0x01;
    std::string out = "unchanged";
    EXPECT_FALSE(Desencriptar(bad, &out)) << "byte " << i;
    EXPECT_EQ(out, "unchanged");
  }
  std::string out;
  EXPECT_FALSE(Desencriptar({sealed.begin(), sealed.end() - 1}, &out));
  EXPECT_FALSE(Desencriptar({sealed.begin(), sealed.begin() + 10}, &out));
  EXPECT_FALSE(Desencriptar({}, &out));
  std::vector<uint8_t> longer = sealed;
  longer.push_back(0);
  EXPECT_FALSE(Desencriptar(longer, &out));
}

TEST_F(PinCipherTest, DataOfAnotherDeviceIsRefused) {
  std::vector<uint8_t> sealed = Encriptar("9999");
  TestDevice other;  // becomes the current device, with its own key
  ASSERT_FALSE(Encriptar("1").empty());
  std::string out;
  EXPECT_FALSE(Desencriptar(sealed, &out));
}

TEST_F(PinCipherTest, KeyFileIsPrivateAndCreatedOnce) {
  std::string out;
  // Opening needs a key; it must not make one.
  EXPECT_FALSE(Desencriptar(std::vector<uint8_t>(64, 0), &out));
  EXPECT_FALSE(std::filesystem::exists(KeyPath()));

  std::vector<uint8_t> sealed = Encriptar("1234");
  struct stat st {};
  ASSERT_EQ(::stat(KeyPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  const std::string key = ReadFile(KeyPath());
  Encriptar("5678");
  EXPECT_EQ(ReadFile(KeyPath()), key);
  ASSERT_TRUE(Desencriptar(sealed, &out));
  EXPECT_EQ(out, "1234");
}

TEST_F(PinCipherTest, KeyReadableByOthersIsNarrowedBeforeUse) {
  std::vector<uint8_t> sealed = Encriptar("1234");
  ASSERT_EQ(::chmod(KeyPath().c_str(), 0644), 0);
  std::string out;
  ASSERT_TRUE(Desencriptar(sealed, &out));
  EXPECT_EQ(out, "1234");
  struct stat st {};
  ASSERT_EQ(::stat(KeyPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PinCipherTest, DamagedOrLinkedKeyIsRefusedNotReplaced) {
  std::vector<uint8_t> sealed = Encriptar("1234");
  const std::string key = ReadFile(KeyPath());
  { std::ofstream(KeyPath(), std::ios::binary | std::ios::trunc) << key.substr(0, 16); }
  std::string out;
  EXPECT_FALSE(Desencriptar(sealed, &out));
  EXPECT_TRUE(Encriptar("1234").empty());
  EXPECT_EQ(ReadFile(KeyPath()), key.substr(0, 16));

  // A key reached through a symbolic link is not ours to trust.
  auto elsewhere = dev.folder() / "elsewhere.key";
  { std::ofstream(elsewhere, std::ios::binary) << key; }
  std::filesystem::remove(KeyPath());
  std::filesystem::create_symlink(elsewhere, KeyPath());
  EXPECT_FALSE(Desencriptar(sealed, &out));
  EXPECT_TRUE(Encriptar("1234").empty());
}

// ---- Boxes -------------------------------------------------------------------------------

class BoxTest : public ::testing::Test {
 protected:
  ~BoxTest() override { SetBoxHook(nullptr); }
  TestDevice dev;
};

TEST_F(BoxTest, AnsweredByTheDeviceModeAndRecorded) {
  EXPECT_EQ(GetBoxAnswerMode(), "yes");
  EXPECT_NE(QuestionBox(0, "Delete the place?"), 0);
  SetBoxAnswerMode("no");
  EXPECT_EQ(GetBoxAnswerMode(), "no");
  EXPECT_EQ(QuestionBox(0, "Reset the device?"), 0);
  TextBox(0, "Saved");
  ErrorBox(0, "Error %d in %s", 5, "tvmgr.db");

  auto boxes = ListBoxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].kind, "question");
  EXPECT_EQ(boxes[0].text, "Delete the place?");
  EXPECT_EQ(boxes[0].answer, "yes");
  EXPECT_EQ(boxes[1].answer, "no");
  EXPECT_EQ(boxes[2].kind, "text");
  EXPECT_EQ(boxes[2].answer, "ok");
  EXPECT_EQ(boxes[3].kind, "error");
  EXPECT_EQ(boxes[3].text, "Error 5 in tvmgr.db");
  SYSTEMTIME t;
  EXPECT_TRUE(ParseSystemTime(boxes[0].time, &t));
}

TEST_F(BoxTest, ModeIsSharedThroughTheStoreAndUnknownModesIgnored) {
  dev.device().SetState(kBoxAnswerModeState, "no");  // as the device console sets it
  EXPECT_EQ(QuestionBox(0, "Q"), 0);
  SetBoxAnswerMode("maybe");
  EXPECT_EQ(GetBoxAnswerMode(), "no");
  SetBoxAnswerMode("UI");
  EXPECT_EQ(GetBoxAnswerMode(), "ui");
  dev.device().SetState(kBoxAnswerModeState, "garbage");
  EXPECT_EQ(GetBoxAnswerMode(), "yes");
}

TEST_F(BoxTest, HookIsUsedOnlyInUiMode) {
  std::vector<std::pair<int, std::string>> shown;
  SetBoxHook([&](int kind, HWND owner, const std::string& text) {
    shown.emplace_back(kind, text);
    EXPECT_EQ(owner, 42u);
    return 0;
  });
  EXPECT_NE(QuestionBox(42, "asked by the mode"), 0);
  SetBoxAnswerMode("no");
  TextBox(42, "told by the mode");
  EXPECT_TRUE(shown.empty());

  SetBoxAnswerMode("ui");
  EXPECT_EQ(QuestionBox(42, "asked by the user"), 0);
  ErrorBox(42, "%s", "shown to the user");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], std::make_pair(BOX_QUESTION, std::string("asked by the user")));
  EXPECT_EQ(shown[1], std::make_pair(BOX_ERROR, std::string("shown to the user")));

  auto boxes = ListBoxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[2].answer, "no");  // the user's answer, not the mode's
  EXPECT_EQ(boxes[3].answer, "ok");
}

TEST_F(BoxTest, UiModeWithoutHookAnswersAtOnce) {
  SetBoxAnswerMode("ui");
  EXPECT_NE(QuestionBox(0, "nobody to ask"), 0);
  ASSERT_EQ(ListBoxes().size(), 1u);
  EXPECT_EQ(ListBoxes()[0].answer, "yes");
}

TEST_F(BoxTest, TextKeepsQuotesLineBreaksAndUnicode) {
  const std::string text = "Line \"one\"\nback\\slash\ttab \x01 ñ €";
  TextBox(0, text);
  ASSERT_EQ(ListBoxes().size(), 1u);
  EXPECT_EQ(ListBoxes()[0].text, text);
}

TEST_F(BoxTest, ProcesarErrorTellsTheUserLogsAndGoesOn) {
  ProcesarError("UNEXPECTED ERROR %d", 7);
  auto boxes = ListBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, "error");
  EXPECT_EQ(boxes[0].text, "UNEXPECTED ERROR 7");
  EXPECT_NE(ReadFile(LogFilePath()).find("[1] UNEXPECTED ERROR 7\n"), std::string::npos);
}

TEST_F(BoxTest, HookCanBeReplacedWhileOtherThreadsShowBoxes) {
  SetBoxAnswerMode("ui");
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 20; ++i)
        QuestionBox(0, "concurrent");
    });
  }
  for (int i = 0; i < 50; ++i) {
    SetBoxHook([&](int, HWND, const std::string&) { return ++calls % 2; });
    SetBoxHook(nullptr);
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(ListBoxes().size(), 60u);
}

// ---- Log and folder ----------------------------------------------------------------------

TEST(MosutilLog, OneLinePerCallWithTimeAndSeverity) {
  TestDevice dev;
  LogFormateado(1, "first %s", "entry");
  LogFormateado(3, "two\nlines");
  std::string log = ReadFile(LogFilePath());
  EXPECT_EQ(LogFilePath(), (dev.folder() / "mosutil.log").string());
  std::istringstream in(log);
  std::string l1, l2, extra;
  ASSERT_TRUE(std::getline(in, l1));
  ASSERT_TRUE(std::getline(in, l2));
  EXPECT_FALSE(std::getline(in, extra));
  SYSTEMTIME t;
  EXPECT_TRUE(ParseSystemTime(l1.substr(0, 19), &t)) << l1;
  EXPECT_EQ(l1.substr(19), " [1] first entry");
  EXPECT_EQ(l2.substr(19), " [3] two lines");
}

TEST(MosutilLog, FullLogIsMovedAside) {
  TestDevice dev;
  LogFormateado(1, "%s", std::string(1 << 20, 'x').c_str());
  LogFormateado(1, "after");
  EXPECT_TRUE(std::filesystem::exists(LogFilePath() + ".old"));
  EXPECT_LT(std::filesystem::file_size(LogFilePath()), 100u);
}

TEST(MosutilLog, WithoutDeviceNothingFails) {
  Device::Close();
  LogFormateado(1, "nowhere");
  TextBox(0, "nowhere");
  EXPECT_NE(QuestionBox(0, "nowhere"), 0);
  EXPECT_EQ(GetCurrentDirectory(), "");
  EXPECT_TRUE(Encriptar("1234").empty());
  EXPECT_TRUE(ListBoxes().empty());
}

TEST(MosutilFolder, ProgramFolderWithoutTrailingSlash) {
  TestDevice dev;
  std::string dir = GetCurrentDirectory();
  EXPECT_EQ(dir, dev.device().ProgramFolder().string());
  EXPECT_NE(dir.back(), '/');
  EXPECT_EQ(dir + "/tvmgr.db",
            dev.device().HostPath("\\Program Files\\Telvane\\tvmgr.db").string());
}

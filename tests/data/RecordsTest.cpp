// The profile records: defaults, one-line descriptions, orderings, time-frame validity, the
// weekday mask of actions and the instance counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "data/StrAction.h"
#include "data/StrCell.h"
#include "data/StrLAC.h"
#include "data/StrPeriod.h"
#include "data/StrPlace.h"
#include "platform/Text.h"

using platform::SYSTEMTIME;

namespace {

// Local time in ms for a civil date, for the virtual clock.
std::int64_t At(int year, int month, int day, int hour = 12) {
  SYSTEMTIME st;
  st.wYear = static_cast<platform::WORD>(year);
  st.wMonth = static_cast<platform::WORD>(month);
  st.wDay = static_cast<platform::WORD>(day);
  st.wHour = static_cast<platform::WORD>(hour);
  return platform::SystemTimeToMs(st);
}

class VirtualClock {
 public:
  explicit VirtualClock(std::int64_t ms) { platform::Clock::UseVirtual(ms); }
  ~VirtualClock() { platform::Clock::UseReal(); }
};

CStrPeriod Period(int h1, int m1, int h2, int m2) {
  CStrPeriod p;
  p.SetStart(h1, m1);
  p.SetEnd(h2, m2);
  return p;
}

TEST(RecordsTest, DefaultsOfEveryRecord) {
  CStrPlace place;
  EXPECT_EQ(place.GetId(), -1);
  EXPECT_EQ(place.GetOid(), 0u);
  EXPECT_TRUE(place.GetName().empty() && place.GetDesc().empty() && place.GetImage().empty());

  CStrPeriod period;
  EXPECT_EQ(period.GetId(), -1);
  EXPECT_EQ(period.GetIdPlace(), -1);
  EXPECT_EQ(period.GetStart().wHour, 0);
  EXPECT_EQ(period.GetEnd().wYear, 0);

  CStrLAC lac;
  EXPECT_EQ(lac.GetCode(), 0);
  EXPECT_EQ(lac.GetPlaceId(), 0);

  VirtualClock clock(At(2024, 3, 5, 9) + 17 * 60000);
  CStrAction action;
  EXPECT_EQ(action.GetMgrId(), -1);
  EXPECT_EQ(action.GetIdPeriod(), -1);
  EXPECT_EQ(action.GetIntOp1(), -1);
  EXPECT_EQ(action.GetIntOp2(), 0);
  EXPECT_EQ(action.GetIntOp3(), -1);
  EXPECT_EQ(action.GetStOp1().wYear, 2024);
  EXPECT_EQ(action.GetStOp2().wHour, 9);
  EXPECT_EQ(action.GetStOp3().wMinute, 17);
  EXPECT_TRUE(action.IsEnabled());
}

TEST(RecordsTest, ResetForgetsTheStoredRecordToo) {
  CStrPlace place("Home", "House", "home.png", 4);
  place.SetOid(12);
  place.Reset();
  EXPECT_EQ(place.GetOid(), 0u);
  EXPECT_EQ(place.GetId(), -1);
  EXPECT_TRUE(place.GetName().empty());

  // A reset cell must not keep the object id of the record it was read from: a later
  // SeekRecord would trust it and reach the wrong record.
  CStrCell cell(100, 3);
  cell.SetOid(9);
  cell.Reset();
  EXPECT_EQ(cell.GetOid(), 0u);
  EXPECT_EQ(cell.GetCode(), 0);

  CStrAction action;
  action.SetOid(5);
  action.SetMgrId(2);
  action.Reset();
  EXPECT_EQ(action.GetOid(), 0u);
  EXPECT_EQ(action.GetMgrId(), -1);
}

TEST(RecordsTest, ToStringFormats) {
  CStrPlace place("Home", "Flat", "h.png", 3);
  place.SetOid(7);
  EXPECT_EQ(place.ToString(), "CStrPlace:[7,3,Home,Flat,h.png]");
  CStrCell cell(4021, 3);
  EXPECT_EQ(cell.ToString(), "CStrCell:[0,4021,3]");
  CStrLAC lac(-2, 1);
  lac.SetOid(2);
  EXPECT_EQ(lac.ToString(), "CStrLAC:[2,-2,1]");
  CStrPeriod period = Period(8, 5, 17, 30);
  period.SetId(2);
  period.SetIdPlace(1);
  period.SetName("Work");
  EXPECT_EQ(period.ToString(), "CStrPeriod:[0,2,Work,1,(08:05),(17:30)]");
  CStrAction action;
  action.SetId(6);
  action.SetMgrId(1);
  action.SetIdPeriod(2);
  action.SetType(CStrAction::TYPE_LEAVE);
  action.SetSzOp1("a");
  action.SetIntOp2(10);
  EXPECT_EQ(action.ToString(), "CStrAction:[0,6,1,2,1,a,,,-1,10,-1]");
}

TEST(RecordsTest, ToStringNeverExceedsFiftyCharactersEvenWithMultiByteText) {
  std::string ascii(300, 'x');
  std::string wide;
  for (int i = 0; i < 100; ++i)
    wide += "\u00f1\u65e5\U0001F600";  // 2, 3 and 4 bytes
  std::string percent(80, '%');        // text is an argument, never a format

  std::vector<std::unique_ptr<CStrBase>> records;
  records.push_back(std::make_unique<CStrPlace>(wide, ascii, percent, 1));
  records.push_back(std::make_unique<CStrPlace>("a", "b", wide, 1));
  auto period = std::make_unique<CStrPeriod>();
  period->SetName(wide);
  records.push_back(std::move(period));
  auto action = std::make_unique<CStrAction>();
  action->SetSzOp1(percent);
  action->SetSzOp3(wide);
  records.push_back(std::move(action));
  auto lac = std::make_unique<CStrLAC>(-2147483647 - 1, -2147483647 - 1);
  lac->SetOid(4000000000u);
  records.push_back(std::move(lac));

  for (const auto& r : records) {
    std::string text = r->ToString();
    EXPECT_LE(platform::Utf8Length(text), CStrBase::kToStringChars) << text;
    // Cut at a character boundary: re-truncating changes nothing and the text re-encodes.
    EXPECT_EQ(platform::Utf16ToUtf8(platform::Utf8ToUtf16(text)), text);
  }
  EXPECT_EQ(platform::Utf8Length(records[0]->ToString()), CStrBase::kToStringChars);
  EXPECT_EQ(records[0]->ToString().rfind("CStrPlace:[0,1,\u00f1\u65e5\U0001F600\u00f1", 0), 0u);
}

TEST(RecordsTest, OrderingsOfSortedContainers) {
  std::vector<CStrPlace> places{{"b", "", "", 1}, {"B", "", "", 2}, {"a", "", "", 3}};
  std::sort(places.begin(), places.end());
  EXPECT_EQ(places[0].GetName(), "B");  // case-sensitive, by character code
  EXPECT_EQ(places[1].GetName(), "a");
  EXPECT_EQ(places[2].GetName(), "b");

  std::vector<CStrPeriod> periods{Period(9, 30, 10, 0), Period(9, 5, 10, 0), Period(0, 0, 1, 0)};
  std::sort(periods.begin(), periods.end());
  EXPECT_EQ(periods[0].GetStart().wHour, 0);
  EXPECT_EQ(periods[1].GetStart().wMinute, 5);
  EXPECT_EQ(periods[2].GetStart().wMinute, 30);

  std::set<CStrLAC> lacs{CStrLAC(300, 1), CStrLAC(-4, 1), CStrLAC(12, 1)};
  std::vector<std::int32_t> codes;
  for (const auto& l : lacs)
    codes.push_back(l.GetCode());
  EXPECT_EQ(codes, (std::vector<std::int32_t>{-4, 12, 300}));
}

TEST(RecordsTest, PeriodValidityTreatsHourZeroAsMidnightAtTheEnd) {
  EXPECT_TRUE(Period(23, 0, 0, 30).IsValid());
  EXPECT_TRUE(Period(22, 0, 0, 0).IsValid());
  EXPECT_TRUE(Period(8, 0, 8, 0).IsValid());
  EXPECT_TRUE(Period(8, 0, 8, 1).IsValid());
  EXPECT_FALSE(Period(23, 0, 22, 0).IsValid());
  EXPECT_FALSE(Period(10, 30, 10, 29).IsValid());
}

TEST(RecordsTest, WeekMaskDigitsForEnabledAndDays) {
  CStrAction action;
  action.SetIntOp2(-1);
  EXPECT_EQ(action.GetIntOp2(), 0);
  for (int day = 0; day < 7; ++day)
    EXPECT_TRUE(action.IsActiveOnDay(day));

  action.SetIntOp2(1);  // 00000001: every day, but not enabled
  EXPECT_FALSE(action.IsEnabled());
  for (int day = 0; day < 7; ++day)
    EXPECT_TRUE(action.IsActiveOnDay(day));

  action.SetIntOp2(10);  // 00000010: Monday off
  EXPECT_TRUE(action.IsEnabled());
  for (int day = 0; day < 7; ++day)
    EXPECT_EQ(action.IsActiveOnDay(day), day != 1) << day;

  action.SetIntOp2(10000000);  // Sunday off
  for (int day = 0; day < 7; ++day)
    EXPECT_EQ(action.IsActiveOnDay(day), day != 0) << day;

  action.SetIntOp2(11111111);
  EXPECT_FALSE(action.IsEnabled());
  for (int day = 0; day < 7; ++day)
    EXPECT_FALSE(action.IsActiveOnDay(day));

  // What the week-days dialog writes reads back day by day.
  std::array<bool, 7> days{false, true, true, false, true, true, false};  // Sun..Sat
  std::int32_t mask = CStrAction::MakeWeekMask(true, days);
  EXPECT_EQ(mask, 11001000);  // Sun Sat Fri Thu Wed Tue Mon Enabled
  action.SetIntOp2(mask);
  EXPECT_TRUE(action.IsEnabled());
  for (int day = 0; day < 7; ++day)
    EXPECT_EQ(action.IsActiveOnDay(day), days[day]) << day;
  EXPECT_EQ(CStrAction::MakeWeekMask(false, {true, true, true, true, true, true, true}), 1);
}

TEST(RecordsTest, IsActiveTodayFollowsThePhoneClock) {
  CStrAction action;
  action.SetIntOp2(10);  // Monday off
  {
    VirtualClock monday(At(2024, 3, 4));
    EXPECT_FALSE(action.IsActiveToday());
  }
  {
    VirtualClock tuesday(At(2024, 3, 5));
    EXPECT_TRUE(action.IsActiveToday());
  }
  action.SetIntOp2(1000000);  // Saturday off
  VirtualClock saturday(At(2024, 3, 9));
  EXPECT_FALSE(action.IsActiveToday());
}

TEST(RecordsTest, CopiesCarryEveryFieldIncludingTheObjectId) {
  CStrAction action;
  action.SetOid(44);
  action.SetId(3);
  action.SetMgrId(51);
  action.SetSzOp2("+34600000000");
  action.SetIntOp2(1);
  SYSTEMTIME st{2001, 2, 0, 3, 4, 5, 6, 7};
  action.SetStOp3(st);
  CStrAction copy(action);
  CStrAction assigned;
  assigned = action;
  for (const CStrAction* a : {&copy, &assigned}) {
    EXPECT_EQ(a->GetOid(), 44u);
    EXPECT_EQ(a->GetMgrId(), 51);
    EXPECT_EQ(a->GetSzOp2(), "+34600000000");
    EXPECT_EQ(a->GetIntOp2(), 1);
    EXPECT_EQ(a->GetStOp3().wMinute, 5);
  }
}

TEST(RecordsTest, InstanceCountersCountConstructionsAndCopies) {
  std::int32_t current = CStrBase::_iCounterCurrentInstances.load();
  std::int32_t made = CStrBase::_iCounterInstantiations.load();
  CStrAction action;
  {
    CStrAction copy(action);
    EXPECT_EQ(CStrBase::_iCounterCurrentInstances.load(), current + 2);
  }
  EXPECT_EQ(CStrBase::_iCounterCurrentInstances.load(), current + 1);
  EXPECT_EQ(CStrBase::_iCounterInstantiations.load(), made + 2);
  std::vector<CStrCell> cells(3);
  EXPECT_EQ(CStrBase::_iCounterCurrentInstances.load(), current + 4);
}

TEST(RecordsTest, NewLocationFollowsTheCellMode) {
  CStrLocation::SetCellMode(true);
  auto cell = CStrLocation::NewLocation();
  EXPECT_NE(dynamic_cast<CStrCell*>(cell.get()), nullptr);
  CStrLocation::SetCellMode(false);
  auto lac = CStrLocation::NewLocation();
  EXPECT_NE(dynamic_cast<CStrLAC*>(lac.get()), nullptr);
  *lac->GetCodeRef() = 77;
  EXPECT_EQ(lac->GetId(), 77);
}

}  // namespace

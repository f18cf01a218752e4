// The profile database: first start, keys assigned on insert, seeking, counting, updates,
// queries by parent, cascades, integrity checks, failure texts, transactions and use from two
// threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/Texts.h"
#include "data/DB.h"
#include "data/ExceptionDB.h"
#include "data/TableActions.h"
#include "data/TableCell.h"
#include "data/TableLAC.h"
#include "data/TablePeriods.h"
#include "data/TablePlaces.h"
#include "support/TestDevice.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// The message of the CExceptionDB that `body` throws, or "<nothing thrown>".
template <class Body>
std::string ThrownText(Body body) {
  try {
    body();
  } catch (const CExceptionDB& e) {
    return e.GetMessage();
  }
  return "<nothing thrown>";
}

class TablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path traductions = dev_.device().ProgramFolder() / "traductions";
    fs::create_directories(traductions);
    fs::copy_file(fs::path(TELVANE_SOURCE_DIR) / "traductions" / "en.xml", traductions / "en.xml");
    CTexts::ResetForTesting();
    CStrLocation::SetCellMode(false);
    db_ = std::make_unique<CDB>();
    db_->OpenDB();
  }
  void TearDown() override {
    db_.reset();
    CTexts::ResetForTesting();
  }

  fs::path VolumeFile() { return dev_.device().ProgramFolder() / "tvmgr.db"; }
  CTablePlaces& Places() { return *db_->GetTablePlaces(); }
  CTablePeriods& Periods() { return *db_->GetTablePeriods(); }
  CTableActions& Actions() { return *db_->GetTableActions(); }
  CTableCell& Cells() { return *db_->GetTableCell(); }
  CTableLAC& Lacs() { return *db_->GetTableLAC(); }

  CStrPlace AddPlace(const std::string& name) {
    CStrPlace place(name, "", "", -1);
    Places().Insert(place);
    return place;
  }
  CStrPeriod AddPeriod(std::int32_t placeId, int hour) {
    CStrPeriod period;
    period.SetIdPlace(placeId);
    period.SetName("P" + std::to_string(hour));
    period.SetStart(hour, 0);
    period.SetEnd(hour + 1, 0);
    Periods().Insert(period);
    return period;
  }
  CStrAction AddAction(std::int32_t periodId, std::int32_t mgrId) {
    return *Actions().FindOrCreate(periodId, mgrId, true, CStrAction::TYPE_ENTER);
  }
  // Everything in the volume that still names `placeId` as its place, directly or through a
  // period.
  int ReferencesTo(std::int32_t placeId) {
    int refs = 0;
    std::vector<CStrPeriod> periods;
    Periods().GetAllRecords(&periods);
    std::vector<CStrAction> actions;
    Actions().GetAllRecords(&actions);
    for (const auto& p : periods) {
      if (p.GetIdPlace() != placeId)
        continue;
      ++refs;
      for (const auto& a : actions)
        refs += a.GetIdPeriod() == p.GetId();
    }
    std::vector<CStrCell> cells;
    Cells().GetAllRecords(&cells);
    for (const auto& c : cells)
      refs += c.GetPlaceId() == placeId;
    std::vector<CStrLAC> lacs;
    Lacs().GetAllRecords(&lacs);
    for (const auto& l : lacs)
      refs += l.GetPlaceId() == placeId;
    return refs;
  }

  TestDevice dev_;
  std::unique_ptr<CDB> db_;
};

TEST_F(TablesTest, FirstStartCreatesEveryTableWithTheUnknownPlace) {
  EXPECT_EQ(CDB::GetInstance(), db_.get());
  EXPECT_FALSE(CHECK_INVALIDGUID(db_->GetVolumeGuid()));
  EXPECT_EQ(Places().Count(), 1);
  EXPECT_EQ(Periods().Count(), 0);
  EXPECT_EQ(Actions().Count(), 0);
  EXPECT_EQ(Cells().Count(), 0);
  EXPECT_EQ(Lacs().Count(), 0);

  CStrPlace unknown;
  unknown.SetId(CTablePlaces::kUnknownPlaceId);
  ASSERT_TRUE(Places().FindAndFill(unknown));
  EXPECT_EQ(unknown.GetName(), CTexts::GetInstance()->GetText("UNKNOWN"));
  EXPECT_EQ(unknown.GetDesc(), CTexts::GetInstance()->GetText("DEFAULT PLACE"));
  EXPECT_EQ(unknown.GetImage(), "place_unknown.png");
  EXPECT_NE(unknown.GetOid(), 0u);

  // The volume was flushed: the file alone holds the five databases and the default row, with
  // columns named by the properties.
  EXPECT_EQ(ReadColumn(VolumeFile(), "SELECT name FROM _cedb_databases ORDER BY oid"),
            (std::vector<std::string>{"places", "lacs", "cells", "periods", "actions"}));
  EXPECT_EQ(ReadColumn(VolumeFile(), "SELECT ID || ':' || Image FROM places"),
            std::vector<std::string>{"0:place_unknown.png"});
  EXPECT_EQ(ReadColumn(VolumeFile(), "SELECT COUNT(*) FROM actions WHERE IdAutonumeric IS NULL"),
            std::vector<std::string>{"0"});
}

TEST_F(TablesTest, ReopeningKeepsTheDataAndAddsNoSecondDefaultPlace) {
  CStrPlace home = AddPlace("Home");
  AddPeriod(home.GetId(), 8);
  db_->CloseDB();
  EXPECT_TRUE(CHECK_INVALIDGUID(db_->GetVolumeGuid()));
  db_->OpenDB();
  EXPECT_EQ(Places().Count(), 2);
  EXPECT_EQ(Periods().GetNumRecordsForPlace(home.GetId()), 1);

  db_.reset();
  EXPECT_EQ(CDB::GetInstance(), nullptr);
  db_ = std::make_unique<CDB>();
  db_->OpenDB();
  EXPECT_EQ(Places().Count(), 2);
  EXPECT_EQ(AddPlace("Work").GetId(), 2) << "numbering goes on where it was";
}

TEST_F(TablesTest, InsertGivesTheCallerTheAssignedIdAndOid) {
  CStrPlace home = AddPlace("Home");
  EXPECT_EQ(home.GetId(), 1);
  EXPECT_NE(home.GetOid(), 0u);
  EXPECT_EQ(AddPlace("Work").GetId(), 2);

  CStrPeriod period = AddPeriod(home.GetId(), 9);
  EXPECT_EQ(period.GetId(), 0) << "each table numbers from 0";
  CStrAction action = AddAction(period.GetId(), 1);
  EXPECT_EQ(action.GetId(), 0);
  EXPECT_NE(action.GetOid(), 0u);

  CStrCell cell(4021, home.GetId());
  Cells().Insert(cell);
  EXPECT_NE(cell.GetOid(), 0u);
  EXPECT_EQ(cell.GetId(), 4021) << "a cell's key is its code";
}

TEST_F(TablesTest, SeekRecordTrustsACarriedOidAndOtherwiseSeeksTheKey) {
  CStrPlace home = AddPlace("Home");
  CStrPlace byKey;
  byKey.SetId(home.GetId());
  EXPECT_EQ(Places().SeekRecord(byKey), home.GetOid());
  EXPECT_EQ(byKey.GetOid(), home.GetOid());

  CStrPlace absent;
  absent.SetId(99);
  EXPECT_EQ(Places().SeekRecord(absent), 0u);
  EXPECT_EQ(absent.GetOid(), 0u);

  // With an oid the database is not consulted at all: not even a closed table fails.
  CStrPlace carried;
  carried.SetId(99);
  carried.SetOid(123456);
  Places().CloseTable();
  EXPECT_EQ(Places().SeekRecord(carried), 123456u);
  EXPECT_EQ(carried.GetId(), 99);
}

TEST_F(TablesTest, CountOfEmptyAndOfThreeRecords) {
  EXPECT_EQ(Cells().Count(), 0);
  for (int code : {30, 10, 20}) {
    CStrCell cell(code, 0);
    Cells().Insert(cell);
  }
  EXPECT_EQ(Cells().Count(), 3);
  std::vector<CStrCell> cells;
  Cells().GetAllForPlace(&cells, 0);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[0].GetCode(), 10);
  EXPECT_EQ(cells[2].GetCode(), 30);
}

TEST_F(TablesTest, UpdateRewritesEverythingButAnActionsManager) {
  CStrAction action = AddAction(5, 1);
  action.SetMgrId(3);
  action.SetSzOp1("tone.wav");
  action.SetIntOp2(10);
  action.SetType(CStrAction::TYPE_LEAVE);
  SYSTEMTIME st{2025, 6, 0, 1, 7, 30, 0, 0};
  action.SetStOp2(st);
  Actions().Update(action);

  CStrAction stored;
  stored.SetId(action.GetId());
  ASSERT_TRUE(Actions().FindAndFill(stored));
  EXPECT_EQ(stored.GetMgrId(), 1);
  EXPECT_EQ(stored.GetSzOp1(), "tone.wav");
  EXPECT_EQ(stored.GetIntOp2(), 10);
  EXPECT_EQ(stored.GetType(), CStrAction::TYPE_LEAVE);
  EXPECT_EQ(stored.GetStOp2().wYear, 2025);
  EXPECT_EQ(stored.GetStOp2().wMinute, 30);

  CStrPlace home = AddPlace("Home");
  home.SetName("House");
  home.SetOid(0);  // found again by its key
  Places().Update(home);
  CStrPlace read;
  read.SetId(home.GetId());
  ASSERT_TRUE(Places().FindAndFill(read));
  EXPECT_EQ(read.GetName(), "House");

  CStrLAC lac(77, 1);
  Lacs().Insert(lac);
  lac.SetPlaceId(2);
  Lacs().Update(lac);
  CStrLAC readLac(77, 0);
  ASSERT_TRUE(Lacs().FindAndFill(readLac));
  EXPECT_EQ(readLac.GetPlaceId(), 2);
}

TEST_F(TablesTest, AStoredWeekMaskOfMinusOneReadsAsZero) {
  CStrAction action = AddAction(0, 2);
  ASSERT_EQ(CeWriteRecordProps(Actions().GetHandle(), action.GetOid(),
                               {CEPROPVAL::Long(CTableActions::PROP_INT_OP2, -1)}),
            ERROR_SUCCESS);
  Actions().ClearCache();
  CStrAction stored;
  stored.SetId(action.GetId());
  ASSERT_TRUE(Actions().FindAndFill(stored));
  EXPECT_EQ(stored.GetIntOp2(), 0);
  EXPECT_TRUE(stored.IsEnabled());
}

TEST_F(TablesTest, AnInvalidTimeOperandIsNotStoredAsAMadeUpInstant) {
  SYSTEMTIME now{2030, 1, 0, 2, 3, 4, 0, 0};
  Clock::UseVirtual(SystemTimeToMs(now));
  CStrAction action;
  action.SetIdPeriod(1);
  action.SetMgrId(2);
  action.SetStOp1(SYSTEMTIME{});  // all zero: no date
  Actions().Insert(action);
  EXPECT_EQ(ReadColumn(VolumeFile(), "SELECT quote(StOp1) FROM actions"),
            std::vector<std::string>{"NULL"});
  CStrAction stored;
  stored.SetId(action.GetId());
  ASSERT_TRUE(Actions().FindAndFill(stored));
  Clock::UseReal();
  EXPECT_EQ(stored.GetStOp1().wYear, 2030) << "an absent time reads as a fresh action's";
  EXPECT_EQ(stored.GetStOp2().wHour, 3);
}

TEST_F(TablesTest, QueriesByParentAndTheirOrder) {
  CStrPlace home = AddPlace("home");
  CStrPlace alpha = AddPlace("Alpha");
  AddPeriod(home.GetId(), 14);
  AddPeriod(home.GetId(), 7);
  AddPeriod(alpha.GetId(), 10);

  std::vector<CStrPlace> places;
  Places().GetAllRecords(&places);
  ASSERT_EQ(places.size(), 3u);
  EXPECT_EQ(places[0].GetName(), "Alpha");  // by name, case-sensitive
  EXPECT_EQ(places[1].GetName(), "Unknown");
  EXPECT_EQ(places[2].GetName(), "home");

  std::vector<CStrPeriod> periods;
  Periods().GetAllRecordsForPlace(&periods, home.GetId());
  ASSERT_EQ(periods.size(), 2u);
  EXPECT_EQ(periods[0].GetStart().wHour, 7);
  EXPECT_EQ(periods[1].GetStart().wHour, 14);
  EXPECT_EQ(Periods().GetNumRecordsForPlace(CTablePlaces::kUnknownPlaceId), 0);

  CStrPeriod whole = Periods().CreateDefaultPeriod(CTablePlaces::kUnknownPlaceId);
  CStrPeriod read;
  read.SetId(whole.GetId());
  ASSERT_TRUE(Periods().FindAndFill(read));
  EXPECT_EQ(read.GetName(), "Default");
  EXPECT_EQ(read.GetIdPlace(), 0);
  EXPECT_EQ(read.GetStartTime(), TimeOfDay(0, 0));
  EXPECT_EQ(read.GetEndTime(), TimeOfDay(0, 0));

  EXPECT_FALSE(Actions().FindOrCreate(whole.GetId(), 4, false, CStrAction::TYPE_ENTER));
  CStrAction made = *Actions().FindOrCreate(whole.GetId(), 4, true, CStrAction::TYPE_ENTER);
  CStrAction leave = *Actions().FindOrCreate(whole.GetId(), 4, true, CStrAction::TYPE_LEAVE);
  EXPECT_NE(made.GetId(), leave.GetId());
  EXPECT_EQ(Actions().FindOrCreate(whole.GetId(), 4, true, CStrAction::TYPE_ENTER)->GetId(),
            made.GetId());
  std::vector<CStrAction> actions;
  Actions().GetAllForPeriod(&actions, whole.GetId());
  EXPECT_EQ(actions.size(), 2u);

  CStrPlace missing("keep", "me", "", 42);
  EXPECT_FALSE(Places().FindAndFill(missing));
  EXPECT_EQ(missing.GetName(), "keep") << "untouched when absent";
}

TEST_F(TablesTest, DeletingAPeriodsActionsRemovesExactlyThose) {
  CStrPeriod a = AddPeriod(0, 8);
  CStrPeriod b = AddPeriod(0, 12);
  AddAction(a.GetId(), 1);
  AddAction(a.GetId(), 2);
  CStrAction other = AddAction(b.GetId(), 1);
  Actions().DeleteForPeriod(a);
  std::vector<CStrAction> left;
  Actions().GetAllRecords(&left);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].GetId(), other.GetId());
}

TEST_F(TablesTest, CascadesLeaveNothingReferringToADeletedPlace) {
  CStrPlace home = AddPlace("Home");
  CStrPlace work = AddPlace("Work");
  for (const CStrPlace* place : {&home, &work}) {
    for (int hour : {8, 18}) {
      CStrPeriod period = AddPeriod(place->GetId(), hour);
      AddAction(period.GetId(), 1);
      AddAction(period.GetId(), 2);
    }
    CStrCell cell(1000 + place->GetId(), place->GetId());
    Cells().Insert(cell);
    CStrLAC lac(200 + place->GetId(), place->GetId());
    Lacs().Insert(lac);
  }
  ASSERT_EQ(ReferencesTo(home.GetId()), 8);

  // The sequence a caller runs before deleting a place itself.
  Periods().DeleteForPlace(home);
  Cells().DeleteForPlace(home);
  Lacs().DeleteForPlace(home);
  Places().Delete(home);
  EXPECT_EQ(ReferencesTo(home.GetId()), 0);
  EXPECT_EQ(ReferencesTo(work.GetId()), 8);
  int count = 0;
  EXPECT_TRUE(Actions().CheckIntegrity(&count));
  EXPECT_EQ(count, 4);

  db_->DeletePlace(work);
  EXPECT_EQ(ReferencesTo(work.GetId()), 0);
  EXPECT_EQ(Places().Count(), 1);
  for (CTableBase* table :
       std::initializer_list<CTableBase*>{&Periods(), &Actions(), &Cells(), &Lacs()}) {
    EXPECT_EQ(table->Count(), 0) << table->GetName();
  }
}

TEST_F(TablesTest, CheckIntegrityStopsAtTheFirstOrphan) {
  CStrPlace home = AddPlace("Home");
  CStrPeriod period = AddPeriod(home.GetId(), 8);
  AddAction(period.GetId(), 1);
  CStrCell cell(5, home.GetId());
  Cells().Insert(cell);
  int count = -1;
  EXPECT_TRUE(Actions().CheckIntegrity(&count));
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(Periods().CheckIntegrity(&count));
  EXPECT_TRUE(Cells().CheckIntegrity(&count));

  Periods().Delete(period);  // the base delete leaves the action behind
  EXPECT_FALSE(Actions().CheckIntegrity(&count));
  EXPECT_EQ(count, 1);
  Places().Delete(home);
  EXPECT_FALSE(Cells().CheckIntegrity(&count));
  EXPECT_TRUE(Places().CheckIntegrity(&count));
  EXPECT_EQ(count, 1);
}

TEST_F(TablesTest, FailuresCarryTheirTexts) {
  CStrPlace absent;
  absent.SetId(55);
  EXPECT_EQ(ThrownText([&] { Places().Delete(absent); }),
            "A record could not be deleted from the table places.");
  EXPECT_EQ(Places().GetErrorText(), "A record could not be deleted from the table places.");

  CStrPeriod missing;
  missing.SetId(9);
  try {
    Periods().Update(missing);
    ADD_FAILURE() << "no exception";
  } catch (const CFindNotFoundDB& e) {
    EXPECT_EQ(e.GetMessage(), "No record with the key 9 was found.");
  }

  CStrCell cell(7, 0);
  Cells().Insert(cell);
  CStrCell twin(7, 1);
  EXPECT_EQ(ThrownText([&] { Cells().Insert(twin); }), "Error writing record.ERROR_ALREADY_EXISTS");

  // A closed table does not pass for an empty one.
  Lacs().CloseTable();
  EXPECT_EQ(ThrownText([&] { Lacs().Count(); }), "Error seeking registry. ERROR_INVALID_HANDLE");
  std::vector<CStrLAC> lacs;
  EXPECT_EQ(ThrownText([&] { Lacs().GetAllRecords(&lacs); }),
            "Error seeking registry. ERROR_INVALID_HANDLE");
}

TEST_F(TablesTest, AVolumeThatCannotBeMountedIsReportedWithItsCode) {
  db_.reset();
  fs::remove(VolumeFile());
  fs::create_directory(VolumeFile());  // something that is no volume file stands in its place
  db_ = std::make_unique<CDB>();
  EXPECT_EQ(ThrownText([&] { db_->OpenDB(); }), "The database could not be opened (error 5).");
  EXPECT_TRUE(CHECK_INVALIDGUID(db_->GetVolumeGuid()));
  EXPECT_EQ(db_->GetErrorText(), "The database could not be opened (error 5).");
}

TEST_F(TablesTest, RollbackUndoesAMultiRowChange) {
  CStrPlace home = AddPlace("Home");
  AddPeriod(home.GetId(), 8);
  ASSERT_EQ(Periods().Count(), 1);
  try {
    CDB::Transaction transaction(*db_);
    db_->DeletePlace(home);
    AddPlace("Half-way");
    throw std::runtime_error("import failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Places().Count(), 2);
  EXPECT_EQ(Periods().Count(), 1);
  std::vector<CStrPlace> places;
  Places().GetAllRecords(&places);
  ASSERT_EQ(places.size(), 2u) << "no rolled-back row is left in the cache";
  EXPECT_EQ(places[0].GetName(), "Home");

  db_->DeleteAllTables();
  for (CTableBase* table : std::initializer_list<CTableBase*>{&Places(), &Periods()}) {
    EXPECT_EQ(table->Count(), 0) << table->GetName();
  }
}

TEST_F(TablesTest, TheLocationTableFollowsTheCellMode) {
  EXPECT_EQ(db_->GetTableLocation(), static_cast<CTableLocation*>(&Lacs()));
  CStrLAC lac(300, 4);
  Lacs().Insert(lac);
  auto location = CStrLocation::NewLocation();
  location->SetCode(300);
  ASSERT_TRUE(db_->GetTableLocation()->FindAndFill(*location));
  EXPECT_EQ(location->GetPlaceId(), 4);

  CStrLocation::SetCellMode(true);
  EXPECT_EQ(db_->GetTableLocation(), static_cast<CTableLocation*>(&Cells()));
  auto cell = CStrLocation::NewLocation();
  cell->SetCode(300);
  EXPECT_FALSE(db_->GetTableLocation()->FindAndFill(*cell));
  CStrLocation::SetCellMode(false);
}

TEST_F(TablesTest, TwoThreadsUseTheTablesAtOnce) {
  constexpr int kEach = 40;
  std::atomic<int> failures{0};
  auto work = [&](const std::string& prefix) {
    try {
      for (int i = 0; i < kEach; ++i) {
        CStrPlace place(prefix + std::to_string(i), "", "", -1);
        Places().Insert(place);
        CStrPeriod period;
        period.SetIdPlace(place.GetId());
        Periods().Insert(period);
        CStrPlace found;
        found.SetId(place.GetId());
        if (!Places().FindAndFill(found) || found.GetName() != place.GetName())
          ++failures;
        if (Periods().GetNumRecordsForPlace(place.GetId()) != 1)
          ++failures;
      }
    } catch (const CExceptionDB& e) {
      ADD_FAILURE() << e.GetMessage();
      ++failures;
    }
  };
  std::thread a(work, "a");
  std::thread b(work, "b");
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Places().Count(), 1 + 2 * kEach);
  int count = 0;
  EXPECT_TRUE(Periods().CheckIntegrity(&count));
  EXPECT_EQ(count, 2 * kEach);
}

TEST_F(TablesTest, CountersAreReportedWithTheirNames) {
  std::int32_t before = CTablePlaces::CounterFindAndFill.load();
  CStrPlace unknown;
  unknown.SetId(0);
  Places().FindAndFill(unknown);
  EXPECT_EQ(CTablePlaces::CounterFindAndFill.load(), before + 1);
  std::vector<std::string> lines = CDB::CounterReport();
  EXPECT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[2], "CTablePlaces::CounterFindAndFill->" + std::to_string(before + 1));
  EXPECT_EQ(lines[9].rfind("CTableLAC::_iInvokeCounterGetAllRecords->", 0), 0u);
}

}  // namespace

// The database volume engine: volumes, databases, seeks, reads and writes, error codes,
// persistence, transactions and concurrent use.
#include "platform/Cedb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "support/TestDevice.h"

using namespace platform;

namespace {

constexpr CEPROPID kName = MakePropId(2, CEVT_LPWSTR);
constexpr CEPROPID kWhen = MakePropId(3, CEVT_FILETIME);
constexpr CEPROPID kAuto = MakePropId(1, CEVT_AUTO_I4);
constexpr CEPROPID kCode = MakePropId(1, CEVT_I4);
constexpr CEPROPID kPlace = MakePropId(2, CEVT_I4);

class CedbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dev_.folder() / "tvmgr.db";
    ASSERT_EQ(CeMountDBVol(file_, &guid_), ERROR_SUCCESS);
  }
  void TearDown() override {
    if (!CHECK_INVALIDGUID(guid_))
      CeUnmountDBVol(guid_);
  }

  // "places": a text, a time and an auto-numbered unique key.
  void CreatePlaces() {
    CEDBASEINFO info{"places", 1911, {kAuto, CEDB_SORT_UNIQUE | CEDB_SORT_NONNULL}};
    ASSERT_EQ(
        CeCreateDatabase(guid_, info, {{kName, 0, "SYM"}, {kWhen, 0, "When"}, {kAuto, 1, "ID"}}),
        ERROR_SUCCESS);
  }
  // "cells": two integers, unique on the first.
  void CreateCells() {
    CEDBASEINFO info{"cells", 0, {kCode, CEDB_SORT_UNIQUE | CEDB_SORT_NONNULL}};
    ASSERT_EQ(CeCreateDatabase(guid_, info, {{kCode, 1, "ID_LAC"}, {kPlace, 1, "ID_PLACE"}}),
              ERROR_SUCCESS);
  }
  CEDBHANDLE Open(const std::string& name, CEPROPID sort) {
    CEDBHANDLE h = INVALID_CEDBHANDLE;
    EXPECT_EQ(CeOpenDatabase(guid_, name, {sort, 0}, &h), ERROR_SUCCESS);
    return h;
  }
  CEOID AddCell(CEDBHANDLE h, LONG code, LONG place) {
    CEOID oid = 0;
    EXPECT_EQ(CeWriteRecordProps(
                  h, 0, {CEPROPVAL::Long(kCode, code), CEPROPVAL::Long(kPlace, place)}, &oid),
              ERROR_SUCCESS);
    return oid;
  }
  // The Code of every record, walking offsets from the beginning until a seek fails.
  std::vector<LONG> Walk(CEDBHANDLE h) {
    std::vector<LONG> codes;
    for (DWORD i = 0;; ++i) {
      if (CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      std::vector<CEPROPVAL> props;
      EXPECT_EQ(CeReadRecordProps(h, nullptr, &props), ERROR_SUCCESS);
      codes.push_back(props.at(0).lVal);
    }
    return codes;
  }

  TestDevice dev_;
  std::filesystem::path file_;
  CEGUID guid_;
};

TEST_F(CedbTest, MountCreatesTheFileAndDatabasesAreTablesNamedByTheirProperties) {
  EXPECT_TRUE(std::filesystem::exists(file_));
  CreatePlaces();
  CEDBHANDLE h = Open("places", kAuto);
  ASSERT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Text(kName, "Home")}), ERROR_SUCCESS);
  ASSERT_EQ(CeFlushDBVol(guid_), ERROR_SUCCESS);
  EXPECT_EQ(ReadColumn(file_, "SELECT \"SYM\" || ',' || \"ID\" FROM places"),
            std::vector<std::string>{"Home,0"});
  CeCloseDatabase(h);
}

TEST_F(CedbTest, WriteThenReadEveryTypeAndAutoNumbersCountFromZeroPerDatabase) {
  CreatePlaces();
  CEDBASEINFO other{"periods", 0, {kAuto, CEDB_SORT_UNIQUE}};
  ASSERT_EQ(CeCreateDatabase(guid_, other, {{kAuto, 1, "Id"}, {kName, 1, "SYM"}}), ERROR_SUCCESS);
  CEDBHANDLE places = Open("places", kAuto);
  CEDBHANDLE periods = Open("periods", kAuto);

  SYSTEMTIME st{2024, 2, 0, 29, 13, 45, 7, 250};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(st, &ft));
  CEOID first = 0, second = 0, period = 0;
  ASSERT_EQ(CeWriteRecordProps(
                places, 0, {CEPROPVAL::Text(kName, "Caf\u00e9 \u00f1"), CEPROPVAL::Time(kWhen, ft)},
                &first),
            ERROR_SUCCESS);
  ASSERT_EQ(CeWriteRecordProps(places, 0, {CEPROPVAL::Text(kName, "Work")}, &second),
            ERROR_SUCCESS);
  ASSERT_EQ(CeWriteRecordProps(periods, 0, {CEPROPVAL::Text(kName, "Default")}, &period),
            ERROR_SUCCESS);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);

  std::vector<CEPROPVAL> props;
  CEOID at = 0;
  ASSERT_EQ(CeSeekDatabase(places, CEDB_SEEK_CEOID, first, nullptr, &at), ERROR_SUCCESS);
  EXPECT_EQ(at, first);
  ASSERT_EQ(CeReadRecordProps(places, nullptr, &props, &at), ERROR_SUCCESS);
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].lpwstr, "Caf\u00e9 \u00f1");
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(props[1].filetime, &back));
  EXPECT_EQ(back.wYear, 2024);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(back.wMilliseconds, 250);
  EXPECT_EQ(props[2].propid, kAuto);
  EXPECT_EQ(props[2].lVal, 0);

  // A record without the time returns only what it has; asking for it by id flags it absent.
  ASSERT_EQ(CeSeekDatabase(places, CEDB_SEEK_CEOID, second, nullptr, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(CeReadRecordProps(places, nullptr, &props), ERROR_SUCCESS);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[1].lVal, 1);
  std::vector<CEPROPID> wanted{kWhen, kAuto};
  ASSERT_EQ(CeReadRecordProps(places, &wanted, &props), ERROR_SUCCESS);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_TRUE(props[0].wFlags & CEDB_PROPNOTFOUND);
  EXPECT_EQ(props[1].lVal, 1);

  ASSERT_EQ(CeSeekDatabase(periods, CEDB_SEEK_BEGINNING, 0, nullptr, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(CeReadRecordProps(periods, nullptr, &props), ERROR_SUCCESS);
  EXPECT_EQ(props.at(0).lVal, 0) << "each database numbers from 0";
  CeCloseDatabase(places);
  CeCloseDatabase(periods);
}

TEST_F(CedbTest, SeeksFollowTheSortOrderAndFindTheFirstEqualKey) {
  CreateCells();
  CEDBHANDLE h = Open("cells", kCode);
  AddCell(h, 30, 1);
  CEOID ten = AddCell(h, 10, 2);
  AddCell(h, -5, 3);
  EXPECT_EQ(Walk(h), (std::vector<LONG>{-5, 10, 30}));

  CEOID found = 0;
  CEPROPVAL key = CEPROPVAL::Long(kCode, 10);
  ASSERT_EQ(CeSeekDatabase(h, CEDB_SEEK_VALUEFIRSTEQUAL, 0, &key, &found), ERROR_SUCCESS);
  EXPECT_EQ(found, ten);
  std::vector<CEPROPVAL> props;
  ASSERT_EQ(CeReadRecordProps(h, nullptr, &props), ERROR_SUCCESS);
  EXPECT_EQ(props.at(1).lVal, 2);

  key.lVal = 11;
  EXPECT_EQ(CeSeekDatabase(h, CEDB_SEEK_VALUEFIRSTEQUAL, 0, &key, &found), ERROR_SEEK);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(CeReadRecordProps(h, nullptr, &props), ERROR_NO_MORE_ITEMS)
      << "a failed seek leaves no position";
  CEPROPVAL wrongProperty = CEPROPVAL::Long(kPlace, 2);
  EXPECT_EQ(CeSeekDatabase(h, CEDB_SEEK_VALUEFIRSTEQUAL, 0, &wrongProperty, &found),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 3, nullptr, nullptr), ERROR_SEEK);

  // Opened without a sort order, records come in creation order.
  CEDBHANDLE plain = Open("cells", 0);
  EXPECT_EQ(Walk(plain), (std::vector<LONG>{30, 10, -5}));
  CeCloseDatabase(plain);
  CeCloseDatabase(h);
}

TEST_F(CedbTest, UpdateAndDeleteWorkOnOneRecordAndReportWhatIsGone) {
  CreateCells();
  CEDBHANDLE h = Open("cells", kCode);
  CEOID a = AddCell(h, 1, 7);
  CEOID b = AddCell(h, 2, 7);
  ASSERT_EQ(CeWriteRecordProps(h, a, {CEPROPVAL::Long(kPlace, 9)}), ERROR_SUCCESS);
  std::vector<CEPROPVAL> props;
  ASSERT_EQ(CeSeekDatabase(h, CEDB_SEEK_CEOID, a, nullptr, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(CeReadRecordProps(h, nullptr, &props), ERROR_SUCCESS);
  EXPECT_EQ(props.at(0).lVal, 1) << "properties not written stay as they were";
  EXPECT_EQ(props.at(1).lVal, 9);

  ASSERT_EQ(CeDeleteRecord(h, a), ERROR_SUCCESS);
  EXPECT_EQ(CeReadRecordProps(h, nullptr, &props), ERROR_KEY_DELETED);
  EXPECT_EQ(CeDeleteRecord(h, a), ERROR_NOT_FOUND);
  EXPECT_EQ(CeDeleteRecord(h, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CeWriteRecordProps(h, a, {CEPROPVAL::Long(kPlace, 1)}), ERROR_NOT_FOUND);
  EXPECT_EQ(Walk(h), std::vector<LONG>{2});

  // A new record never takes a deleted record's oid.
  CEOID c = AddCell(h, 3, 7);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
  CeCloseDatabase(h);
}

TEST_F(CedbTest, ErrorCodesOfCreateOpenAndWrite) {
  CreateCells();
  CEDBASEINFO dup{"CELLS", 0, {}};
  EXPECT_EQ(CeCreateDatabase(guid_, dup, {}), ERROR_DUP_NAME);
  CEDBASEINFO longName{std::string(33, 'x'), 0, {}};
  EXPECT_EQ(CeCreateDatabase(guid_, longName, {}), ERROR_BAD_LENGTH);
  CEDBASEINFO twice{"twice", 0, {}};
  EXPECT_EQ(CeCreateDatabase(guid_, twice, {{kCode, 0, "A"}, {kPlace, 0, "a"}}),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CeCreateDatabase(guid_, twice, {{MakePropId(1, 0x0013), 0, "A"}}), ERROR_NOT_SUPPORTED);
  CEDBASEINFO badSort{"badsort", 0, {kPlace, 0}};
  EXPECT_EQ(CeCreateDatabase(guid_, badSort, {{kCode, 0, "A"}}), ERROR_INVALID_PARAMETER);
  CEDBASEINFO reserved{"_cedb_databases", 0, {}};
  EXPECT_EQ(CeCreateDatabase(guid_, reserved, {}), ERROR_INVALID_PARAMETER);

  CEDBHANDLE h = INVALID_CEDBHANDLE;
  EXPECT_EQ(CeOpenDatabase(guid_, "nothere", {}, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CeOpenDatabase(guid_, "cells", {kPlace, 0}, &h), ERROR_INVALID_PARAMETER);
  h = Open("Cells", kCode);  // names compare without case

  AddCell(h, 5, 1);
  EXPECT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Long(kCode, 5)}), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Long(kPlace, 5)}), ERROR_INVALID_PARAMETER)
      << "the non-null key is missing";
  EXPECT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Long(MakePropId(9, CEVT_I4), 5)}),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Walk(h), std::vector<LONG>{5}) << "failed writes leave nothing behind";

  CreatePlaces();
  CEDBHANDLE places = Open("places", kAuto);
  EXPECT_EQ(CeWriteRecordProps(places, 0, {CEPROPVAL::Long(kAuto, 4)}), ERROR_ACCESS_DENIED);
  CeCloseDatabase(places);

  EXPECT_EQ(CeCloseDatabase(h), ERROR_SUCCESS);
  EXPECT_EQ(CeCloseDatabase(h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 0, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(CedbTest, UnmountClosesHandlesAndRemountKeepsDataAndNumbering) {
  CreatePlaces();
  CEDBHANDLE h = Open("places", kAuto);
  CEOID oid = 0;
  ASSERT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Text(kName, "A")}), ERROR_SUCCESS);
  ASSERT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Text(kName, "B")}, &oid), ERROR_SUCCESS);
  ASSERT_EQ(CeDeleteRecord(h, oid), ERROR_SUCCESS);

  ASSERT_EQ(CeUnmountDBVol(guid_), ERROR_SUCCESS);
  EXPECT_EQ(CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 0, nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CeFlushDBVol(guid_), ERROR_NOT_FOUND);
  EXPECT_EQ(CeUnmountDBVol(guid_), ERROR_NOT_FOUND);
  CEDBHANDLE none = INVALID_CEDBHANDLE;
  EXPECT_EQ(CeOpenDatabase(guid_, "places", {}, &none), ERROR_NOT_FOUND);

  ASSERT_EQ(CeMountDBVol(file_, &guid_), ERROR_SUCCESS);
  h = Open("places", kAuto);
  ASSERT_EQ(CeWriteRecordProps(h, 0, {CEPROPVAL::Text(kName, "C")}), ERROR_SUCCESS);
  std::vector<std::string> rows = ReadColumn(file_, "SELECT SYM || ID FROM places ORDER BY ID");
  EXPECT_EQ(rows, (std::vector<std::string>{"A0", "C2"})) << "number 1 is never handed out again";
  CeCloseDatabase(h);
}

TEST_F(CedbTest, MountingTwiceSharesTheVolumeUntilTheLastUnmount) {
  CEGUID again;
  ASSERT_EQ(CeMountDBVol(file_, &again), ERROR_SUCCESS);
  EXPECT_EQ(again, guid_);
  ASSERT_EQ(CeUnmountDBVol(again), ERROR_SUCCESS);
  CreateCells();  // still mounted once
  EXPECT_EQ(CeMountDBVol(dev_.folder() / "missing" / "x.db", &again), 3 /* path not found */);
  EXPECT_TRUE(CHECK_INVALIDGUID(again));
}

TEST_F(CedbTest, NotAVolumeIsRefused) {
  auto junk = dev_.folder() / "junk.db";
  {
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("this is not a database file, not at all, really not one", f);
    std::fclose(f);
  }
  CEGUID g;
  EXPECT_NE(CeMountDBVol(junk, &g), ERROR_SUCCESS);
  EXPECT_TRUE(CHECK_INVALIDGUID(g));
}

TEST_F(CedbTest, FlushLeavesACompleteVolumeFile) {
  CreateCells();
  CEDBHANDLE h = Open("cells", kCode);
  for (int i = 0; i < 20; ++i)
    AddCell(h, i, 1);
  ASSERT_EQ(CeFlushDBVol(guid_), ERROR_SUCCESS);
  // A plain copy of the volume file alone (as a backup makes) holds every record.
  auto copy = dev_.folder() / "backup.db";
  std::filesystem::copy_file(file_, copy);
  EXPECT_EQ(ReadColumn(copy, "SELECT COUNT(*) FROM cells"), std::vector<std::string>{"20"});
  CeCloseDatabase(h);
}

TEST_F(CedbTest, RollbackUndoesEveryChangeOfTheTransaction) {
  CreateCells();
  CEDBHANDLE h = Open("cells", kCode);
  CEOID keep = AddCell(h, 1, 1);

  ASSERT_EQ(CeBeginTransaction(guid_), ERROR_SUCCESS);
  AddCell(h, 2, 1);
  ASSERT_EQ(CeBeginTransaction(guid_), ERROR_SUCCESS);  // a nested level joins
  ASSERT_EQ(CeDeleteRecord(h, keep), ERROR_SUCCESS);
  ASSERT_EQ(CeRollbackTransaction(guid_), ERROR_SUCCESS);
  AddCell(h, 3, 1);
  EXPECT_EQ(CeCommitTransaction(guid_), ERROR_GEN_FAILURE) << "an inner rollback dooms it";
  EXPECT_EQ(Walk(h), std::vector<LONG>{1});

  ASSERT_EQ(CeBeginTransaction(guid_), ERROR_SUCCESS);
  AddCell(h, 4, 1);
  ASSERT_EQ(CeCommitTransaction(guid_), ERROR_SUCCESS);
  EXPECT_EQ(Walk(h), (std::vector<LONG>{1, 4}));
  EXPECT_EQ(CeCommitTransaction(guid_), ERROR_INVALID_PARAMETER) << "no transaction open";
  CeCloseDatabase(h);
}

TEST_F(CedbTest, TwoThreadsWriteAndReadConcurrently) {
  CreatePlaces();
  CreateCells();
  constexpr int kEach = 150;
  std::atomic<int> failures{0};
  auto writer = [&](LONG base) {
    CEDBHANDLE h = INVALID_CEDBHANDLE;
    CEDBHANDLE p = INVALID_CEDBHANDLE;
    if (CeOpenDatabase(guid_, "cells", {kCode, 0}, &h) != ERROR_SUCCESS ||
        CeOpenDatabase(guid_, "places", {kAuto, 0}, &p) != ERROR_SUCCESS) {
      ++failures;
      return;
    }
    for (LONG i = 0; i < kEach; ++i) {
      CEOID oid = 0;
      if (CeWriteRecordProps(h, 0, {CEPROPVAL::Long(kCode, base + i), CEPROPVAL::Long(kPlace, i)},
                             &oid) != ERROR_SUCCESS ||
          CeWriteRecordProps(p, 0, {CEPROPVAL::Text(kName, "n")}) != ERROR_SUCCESS) {
        ++failures;
      }
      // This handle's position stays on its own record whatever the other thread does.
      std::vector<CEPROPVAL> props;
      if (CeSeekDatabase(h, CEDB_SEEK_CEOID, oid, nullptr, nullptr) != ERROR_SUCCESS ||
          CeReadRecordProps(h, nullptr, &props) != ERROR_SUCCESS || props.at(0).lVal != base + i) {
        ++failures;
      }
    }
    CeCloseDatabase(h);
    CeCloseDatabase(p);
  };
  std::thread a(writer, 0);
  std::thread b(writer, 100000);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);

  CEDBHANDLE p = Open("places", kAuto);
  std::set<LONG> ids;
  for (DWORD i = 0;; ++i) {
    if (CeSeekDatabase(p, CEDB_SEEK_BEGINNING, i, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    std::vector<CEPROPVAL> props;
    ASSERT_EQ(CeReadRecordProps(p, nullptr, &props), ERROR_SUCCESS);
    ids.insert(props.back().lVal);
  }
  EXPECT_EQ(ids.size(), 2u * kEach) << "every auto number handed out once";
  EXPECT_EQ(*ids.rbegin(), 2 * kEach - 1);
  CeCloseDatabase(p);
}

TEST_F(CedbTest, AnotherThreadWaitsForATransactionToEnd) {
  CreateCells();
  CEDBHANDLE h = Open("cells", kCode);
  ASSERT_EQ(CeBeginTransaction(guid_), ERROR_SUCCESS);
  AddCell(h, 1, 1);
  std::atomic<bool> wrote{false};
  std::thread other([&] {
    CEDBHANDLE o = INVALID_CEDBHANDLE;
    CeOpenDatabase(guid_, "cells", {kCode, 0}, &o);
    CeWriteRecordProps(o, 0, {CEPROPVAL::Long(kCode, 2), CEPROPVAL::Long(kPlace, 1)});
    wrote = true;
    CeCloseDatabase(o);
  });
  AddCell(h, 3, 1);
  ASSERT_EQ(CeRollbackTransaction(guid_), ERROR_SUCCESS);
  other.join();
  EXPECT_TRUE(wrote.load());
  // The other thread's write was not swept into the rolled-back transaction.
  EXPECT_EQ(Walk(h), std::vector<LONG>{2});
  CeCloseDatabase(h);
}

TEST(CedbTime, FileTimeRoundTripsAndRejectsInvalidTimes) {
  SYSTEMTIME st{1999, 12, 0, 31, 23, 59, 59, 999};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(st, &ft));
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(ft, &back));
  EXPECT_EQ(back.wYear, 1999);
  EXPECT_EQ(back.wMonth, 12);
  EXPECT_EQ(back.wDay, 31);
  EXPECT_EQ(back.wHour, 23);
  EXPECT_EQ(back.wMilliseconds, 999);

  SYSTEMTIME epoch{1601, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(epoch, &ft));
  EXPECT_EQ(ft.ticks, 0u);

  FILETIME untouched{42};
  EXPECT_FALSE(SystemTimeToFileTime(SYSTEMTIME{}, &untouched));
  EXPECT_EQ(untouched.ticks, 42u);
  EXPECT_FALSE(FileTimeToSystemTime(FILETIME{~0ULL}, &back));
}

}  // namespace

namespace {

// The oids of a whole walk: by offsets (each seek from the beginning), or by batches of `size`
// that continue from the position.
std::vector<CEOID> OidsByOffsets(CEDBHANDLE h) {
  std::vector<CEOID> oids;
  CEOID oid = 0;
  for (DWORD i = 0; CeSeekDatabase(h, CEDB_SEEK_BEGINNING, i, nullptr, &oid) == ERROR_SUCCESS; ++i)
    oids.push_back(oid);
  return oids;
}

std::vector<CEOID> OidsByBatches(CEDBHANDLE h, DWORD size) {
  std::vector<CEOID> oids;
  if (CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 0, nullptr, nullptr) != ERROR_SUCCESS)
    return oids;
  std::vector<CERECORD> batch;
  LONG rc;
  while ((rc = CeReadRecordsFrom(h, size, &batch)) == ERROR_SUCCESS) {
    EXPECT_LE(batch.size(), size);
    for (const CERECORD& r : batch)
      oids.push_back(r.oid);
  }
  EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
  return oids;
}

}  // namespace

// Batched reads visit every record once in the order the seeks give, across equal keys, null
// keys, either direction and case-insensitive keys, and in creation order.
TEST_F(CedbTest, BatchedReadsFollowTheSeekOrder) {
  for (DWORD flags : {DWORD{0}, CEDB_SORT_DESCENDING | CEDB_SORT_CASEINSENSITIVE}) {
    std::string name = "tags" + std::to_string(flags);
    CEDBASEINFO info{name, 0, {kName, flags}};
    ASSERT_EQ(CeCreateDatabase(guid_, info, {{kName, 0, "SYM"}, {kCode, 0, "N"}}), ERROR_SUCCESS);
    CEDBHANDLE h = Open(name, kName);
    int n = 0;
    for (const char* text :
         std::initializer_list<const char*>{"b", "A", "a", nullptr, "c", "b", nullptr, "B", "a"}) {
      std::vector<CEPROPVAL> props{CEPROPVAL::Long(kCode, n++)};
      if (text)
        props.push_back(CEPROPVAL::Text(kName, text));
      ASSERT_EQ(CeWriteRecordProps(h, 0, props), ERROR_SUCCESS);
    }
    std::vector<CEOID> expected = OidsByOffsets(h);
    ASSERT_EQ(expected.size(), 9u);
    for (DWORD size : {1u, 2u, 4u, 100u})
      EXPECT_EQ(OidsByBatches(h, size), expected) << name << " in batches of " << size;
    CEDBHANDLE plain = Open(name, 0);
    EXPECT_EQ(OidsByBatches(plain, 2), OidsByOffsets(plain));
    DWORD count = 0;
    EXPECT_EQ(CeGetRecordCount(h, &count), ERROR_SUCCESS);
    EXPECT_EQ(count, 9u);

    // From the middle on; a position whose record is gone is reported, not skipped.
    std::vector<CERECORD> batch;
    ASSERT_EQ(CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 7, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(CeReadRecordsFrom(h, 5, &batch), ERROR_SUCCESS);
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_EQ(batch[0].oid, expected[7]);
    ASSERT_EQ(CeSeekDatabase(h, CEDB_SEEK_BEGINNING, 3, nullptr, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(CeDeleteRecord(h, expected[3]), ERROR_SUCCESS);
    EXPECT_EQ(CeReadRecordsFrom(h, 5, &batch), ERROR_KEY_DELETED);
    CeCloseDatabase(plain);
    CeCloseDatabase(h);
  }
}

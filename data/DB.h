// The profile database: the volume "tvmgr.db" in the program folder and its five tables (places,
// location areas, cells, time frames and actions).
//
// One CDB exists per process, created by the application object at start-up and reached through
// GetInstance. OpenDB mounts the volume and opens every table, creating the missing ones with
// their default rows; CloseDB flushes, closes the tables and unmounts.
//
// Threads: every table operation holds the CDB's Lock for its duration. A transaction holds it
// from Begin to Commit or Rollback, so a change of several rows (an import, a cascade) is all or
// nothing and no other thread sees it half done; other threads' table calls wait meanwhile.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Cedb.h"

class CTableBase;
class CTableLocation;
class CTablePlaces;
class CTableLAC;
class CTableCell;
class CTablePeriods;
class CTableActions;
class CStrPlace;

class CDB {
 public:
  static constexpr const char* kVolumeFileName = "tvmgr.db";
  // Longest text kept in ErrorText, in characters.
  static constexpr std::size_t kErrorTextChars = 260;

  // Forms the volume path from the program folder and creates the five tables. Becomes the
  // process's instance.
  CDB();
  // Flushes and unmounts a volume that is still mounted, then deletes the tables.
  virtual ~CDB();
  CDB(const CDB&) = delete;
  CDB& operator=(const CDB&) = delete;

  // The process's instance, or null.
  static CDB* GetInstance();

  // Mounts the volume (creating the file when it is missing) and opens every registered table in
  // registration order. Throws CExceptionDB with the translated "ERROR OPENING VOLUME" text when
  // the volume cannot be mounted, or a table's failure.
  virtual void OpenDB();
  // Flushes the volume, closes every table and unmounts. Always succeeds.
  virtual bool CloseDB();
  // The mounted volume; all four words 0xFFFFFFFF while none is.
  virtual platform::CEGUID GetVolumeGuid() const { return m_VolumeGuid; }

  virtual CTablePlaces* GetTablePlaces() const { return m_TablePlaces.get(); }
  virtual CTableLAC* GetTableLAC() const { return m_TableLAC.get(); }
  virtual CTableCell* GetTableCell() const { return m_TableCell.get(); }
  virtual CTablePeriods* GetTablePeriods() const { return m_TablePeriods.get(); }
  // The table that maps location codes to places: cells in cell mode, else location areas.
  virtual CTableLocation* GetTableLocation() const;
  virtual CTableActions* GetTableActions() const { return m_TableActions.get(); }

  // Adds a table to the list that OpenDB, CloseDB, DumpAll and DeleteAllTables walk.
  virtual void RegisterTable(CTableBase* table);
  // Every table writes its records to the trace channel.
  virtual void DumpAll();
  // Every table deletes all its records, all or nothing.
  virtual void DeleteAllTables();

  // Whether every record's parent exists (a location's or a time frame's place, an action's
  // time frame), table by table in registration order. Takes time linear in the data and holds
  // the Lock one table at a time, so other threads' calls get their turn in between. A database
  // failure counts as unsound (and is traced).
  bool CheckIntegrity();

  // Deletes a place with everything that refers to it: its time frames with their actions, its
  // cells and its location areas, then the place itself. All or nothing.
  void DeletePlace(CStrPlace& place);

  // Transactions over the whole volume; they nest (see platform::CeBeginTransaction). Begin
  // takes the Lock and keeps it until the matching Commit or Rollback, which must come from the
  // same thread. A rollback empties every table's cache. Failures throw CExceptionDB.
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction();

  // Begins a transaction and rolls it back on destruction unless it was committed.
  class Transaction {
   public:
    explicit Transaction(CDB& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

   private:
    CDB& m_Db;
    bool m_Open = true;
  };

  std::recursive_mutex& Lock() { return m_Lock; }
  const std::string& GetPath() const { return m_Path; }
  std::string GetErrorText() const;

  // The diagnostic counters of the records and the tables, one line each, as reported at exit.
  static std::vector<std::string> CounterReport();

 private:
  void EmptyAllCaches();

  std::string m_Path;
  platform::CEGUID m_VolumeGuid;
  std::unique_ptr<CTablePlaces> m_TablePlaces;
  std::unique_ptr<CTableLAC> m_TableLAC;
  std::unique_ptr<CTableCell> m_TableCell;
  std::unique_ptr<CTablePeriods> m_TablePeriods;
  std::unique_ptr<CTableActions> m_TableActions;
  std::vector<CTableBase*> m_Tables;
  std::string m_ErrorText;
  mutable std::recursive_mutex m_Lock;
};

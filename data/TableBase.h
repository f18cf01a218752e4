// What the five profile tables share: the open database of the volume, the table's name, the
// open-or-create sequence with the table's default rows, seeking a record by its key, counting,
// dumping, deleting, writing and reading records, an in-memory cache of the whole table, and the
// texts of database failures.
//
// Threads: the tables are used from the user-interface thread and from the schedule engine's
// and the cell tracker's worker threads. Every operation first takes the owning CDB's lock
// (`CDB::Lock`), so that a seek and the read that follows it are never split by another thread,
// then the table's own Lock while it reads or changes its cache. That Lock is never held while
// waiting for anything else (another table, the database), so the locks cannot deadlock.
// Failures are thrown as
// CExceptionDB (CFindNotFoundDB when a key is absent).
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/StrBase.h"
#include "platform/Cedb.h"

class CDB;

class CTableBase {
 public:
  // Longest text kept in ErrorText, in characters.
  static constexpr std::size_t kErrorTextChars = 100;
  // Every table has one sort order, on its key: a unique key, ascending.
  static constexpr platform::DWORD kKeyFlags =
      platform::CEDB_SORT_UNIQUE | platform::CEDB_SORT_NONNULL;  // 0x1200
  // Database type of the tables that have one.
  static constexpr platform::DWORD kDbType = 1911;
  // Records read per call of a whole-table walk.
  static constexpr platform::DWORD kReadBatch = 512;

  // Registers the table with `db`.
  CTableBase(CDB* db, std::string name);
  virtual ~CTableBase();
  CTableBase(const CTableBase&) = delete;
  CTableBase& operator=(const CTableBase&) = delete;

  virtual CDB* GetDB() const { return m_Db; }
  virtual platform::CEDBHANDLE GetHandle() const { return m_Handle; }
  virtual void SetDB(CDB* db) { m_Db = db; }
  virtual void SetHandle(platform::CEDBHANDLE handle) { m_Handle = handle; }
  virtual void SetOpen(bool open) { m_IsOpen = open; }
  virtual bool GetOpen() const { return m_IsOpen; }
  // The database name inside the volume ("places", "lacs", ...).
  virtual const std::string& GetName() const { return m_Name; }

  // Failure handling by the engine's error code. ThrowOpenError creates the missing database
  // (code 2) and fills it with its default rows; everything else is thrown.
  virtual void ThrowOpenError(platform::LONG code);
  virtual void ThrowCreateError(platform::LONG code);
  virtual void ThrowWriteError(platform::LONG code);
  virtual void ThrowSeekError(platform::LONG code);
  virtual void ThrowReadError(platform::LONG code);
  virtual void ThrowReadErrorOnRecord(platform::LONG code);

  // Deletes the one record with the record's key (its oid when it carries one), nothing else.
  // Throws "ERROR DELETEING REGISTRY" when it cannot. The record's oid is 0 afterwards.
  virtual void Delete(CStrBase& record);
  // Deletes every record of the table, all or nothing.
  virtual void DeleteAll();
  // Writes a new record. Tables with an auto-numbered key read it back, so that the record then
  // carries the Id the database assigned; every table sets the record's oid.
  virtual void Insert(CStrBase& record);
  // Rewrites the record's non-key properties. CFindNotFoundDB when the key is absent.
  virtual void Update(CStrBase& record);
  // The record's oid: the one it carries, else the oid of the first record with its key (stored
  // into the record), else 0.
  virtual platform::CEOID SeekRecord(CStrBase& record);
  // Copies the cached record with the given record's key into it; false when there is none.
  virtual bool FindAndFill(CStrBase& record) = 0;

  virtual void CreateTable();
  // Opens the database, creating it with its default rows when it does not exist yet.
  virtual void OpenTable();
  // Drops the cache and closes the database.
  virtual void CloseTable();
  // Writes every record to the trace channel.
  virtual void Dump();
  // The rows a new database starts with.
  virtual void InsertDefaults() {}
  virtual platform::CEPROPID GetKeyPropId() const = 0;
  // An empty record of the table's kind.
  virtual std::unique_ptr<CStrBase> NewRecord() const = 0;
  // The number of records.
  virtual int Count();

  // Reads the whole table into the cache unless it holds it already.
  virtual void LoadCache() = 0;
  // Empties the cache; the next query reads the table again.
  virtual void ClearCache() = 0;
  // Loads the cache, sets `count` to the number of records and tells whether every record's
  // parent exists (stops at the first orphan).
  virtual bool CheckIntegrity(int* count) = 0;

  // The text of the last failure of this table.
  std::string GetErrorText() const;
  bool IsCacheLoaded() const;
  bool IsCacheEnabled() const;
  // While the cache is disabled, deletes drop single records from it instead of emptying it.
  void SetCacheEnabled(bool enabled);

 protected:
  // The table's schema and its mapping between records and properties.
  virtual platform::DWORD GetDbType() const { return 0; }
  virtual std::vector<platform::CEPROPSPEC> GetProperties() const = 0;
  virtual std::vector<platform::CEPROPVAL> PropsForInsert(const CStrBase& record) const = 0;
  virtual std::vector<platform::CEPROPVAL> PropsForUpdate(const CStrBase& record) const = 0;
  // Sets the record's fields from the properties read; absent ones keep their defaults.
  virtual void FillRecord(const std::vector<platform::CEPROPVAL>& props,
                          CStrBase& record) const = 0;
  // Throws what a failed Update of this table throws.
  virtual void ThrowUpdateError(platform::LONG code) = 0;
  // Removes one record from the cache (used while the cache is disabled).
  virtual void RemoveFromCache(const CStrBase& record) = 0;
  // A record of the whole-table walk could not be read. Throws; the location tables report it
  // and go on.
  virtual void OnBulkReadError(platform::LONG code);

  // Reads every record in key order, handing each one's properties and oid to `each`.
  void ReadAll(
      const std::function<void(const std::vector<platform::CEPROPVAL>&, platform::CEOID)>& each);
  // After a change: the cache no longer holds the table.
  void DropCache();
  // Sets ErrorText and throws it as CExceptionDB.
  [[noreturn]] void Raise(const std::string& text);
  // The owning CDB's lock, held for a whole table operation.
  std::unique_lock<std::recursive_mutex> LockDb() const;
  platform::CEGUID Volume() const;

  CDB* m_Db;
  platform::CEDBHANDLE m_Handle = platform::INVALID_CEDBHANDLE;
  bool m_IsOpen = false;
  std::string m_ErrorText;
  std::string m_Name;
  bool m_CacheLoaded = false;           // guarded by m_Lock
  bool m_CacheEnabled = true;           // guarded by m_Lock
  mutable std::recursive_mutex m_Lock;  // guards the cache
};

// The cache of a table whose records are of type R, kept in the table's order, with two indexes
// built from it when first needed: by key, and by parent (the record a child record refers to:
// a period's place, an action's period, a location's place). Lookups through them take time
// independent of the table's size, so a walk over all parents with their children is linear.
template <class R, class Base = CTableBase>
class CTableCache : public Base {
 public:
  using Base::Base;

  void LoadCache() override {
    auto db = this->LockDb();
    if (this->IsCacheLoaded())
      return;
    // Read without the cache's Lock: it is never held while waiting for anything else.
    std::vector<R> records;
    // Every record starts as a copy of one fresh record (constructing some records reads the
    // clock); properties a record lacks keep the fresh values.
    const R fresh;
    this->ReadAll([&](const std::vector<platform::CEPROPVAL>& props, platform::CEOID oid) {
      R record = fresh;
      this->FillRecord(props, record);
      record.SetOid(oid);
      records.push_back(record);
    });
    SortCache(records);
    std::lock_guard lock(this->m_Lock);
    m_Cache = std::move(records);
    m_IndexesBuilt = false;
    this->m_CacheLoaded = true;
  }

  void ClearCache() override {
    std::lock_guard lock(this->m_Lock);
    m_Cache.clear();
    m_IndexesBuilt = false;
    this->m_CacheLoaded = false;
  }

  bool FindAndFill(CStrBase& record) override {
    auto db = this->LockDb();
    LoadCache();
    std::lock_guard lock(this->m_Lock);
    BuildIndexes();
    auto it = m_ById.find(record.GetId());
    if (it == m_ById.end())
      return false;
    CopyInto(m_Cache[it->second], record);
    return true;
  }

  // Whether a record with that key exists (the cache is loaded first).
  bool HasKey(std::int32_t id) {
    auto db = this->LockDb();
    LoadCache();
    std::lock_guard lock(this->m_Lock);
    BuildIndexes();
    return m_ById.count(id) != 0;
  }

  // Every record, in the table's order.
  void GetAllRecords(std::vector<R>* list) {
    *list = Records([](const R&) { return true; });
  }

 protected:
  // Puts a freshly read cache into the table's order; the walk itself is in key order.
  virtual void SortCache(std::vector<R>& cache) { (void)cache; }
  // Copies a cached record into the caller's record.
  virtual void CopyInto(const R& cached, CStrBase& record) { dynamic_cast<R&>(record) = cached; }
  // The key of the record a record refers to; tables without parents keep the default.
  virtual std::int32_t ParentOf(const R& record) const {
    (void)record;
    return 0;
  }

  void RemoveFromCache(const CStrBase& record) override {
    std::lock_guard lock(this->m_Lock);
    std::erase_if(m_Cache, [&](const R& r) { return r.GetOid() == record.GetOid(); });
    m_IndexesBuilt = false;
  }

  // The cached records that `match` accepts, in cache order (the cache is loaded first).
  template <class Match>
  std::vector<R> Records(Match match) {
    auto db = this->LockDb();
    LoadCache();
    std::lock_guard lock(this->m_Lock);
    std::vector<R> out;
    for (const R& r : m_Cache) {
      if (match(r))
        out.push_back(r);
    }
    return out;
  }

  // The cached records whose parent is `parentId` that `match` accepts, in cache order.
  template <class Match>
  std::vector<R> ChildRecords(std::int32_t parentId, Match match) {
    auto db = this->LockDb();
    LoadCache();
    std::lock_guard lock(this->m_Lock);
    BuildIndexes();
    std::vector<R> out;
    auto it = m_ByParent.find(parentId);
    if (it == m_ByParent.end())
      return out;
    for (std::size_t index : it->second) {
      if (match(m_Cache[index]))
        out.push_back(m_Cache[index]);
    }
    return out;
  }
  std::vector<R> ChildRecords(std::int32_t parentId) {
    return ChildRecords(parentId, [](const R&) { return true; });
  }

  // After the cache's order changed in place.
  void IndexesChanged() {
    std::lock_guard lock(this->m_Lock);
    m_IndexesBuilt = false;
  }

  std::vector<R> m_Cache;  // guarded by m_Lock

 private:
  // Caller holds m_Lock.
  void BuildIndexes() {
    if (m_IndexesBuilt)
      return;
    m_ById.clear();
    m_ByParent.clear();
    m_ById.reserve(m_Cache.size());
    for (std::size_t i = 0; i < m_Cache.size(); ++i) {
      m_ById.emplace(m_Cache[i].GetId(), i);  // the first record of a key, as a scan finds it
      m_ByParent[ParentOf(m_Cache[i])].push_back(i);
    }
    m_IndexesBuilt = true;
  }

  // Positions in m_Cache, valid while m_IndexesBuilt; guarded by m_Lock.
  bool m_IndexesBuilt = false;
  std::unordered_map<std::int32_t, std::size_t> m_ById;
  std::unordered_map<std::int32_t, std::vector<std::size_t>> m_ByParent;
};

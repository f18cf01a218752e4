#include "platform/Cedb.h"

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Text.h"

namespace platform {

namespace {

constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_BAD_FORMAT = 11;

// 100-ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr std::int64_t kTicksPerMs = 10000;

// Creation order of the meta tables that describe the databases of a volume.
constexpr const char* kMetaSchema =
    "CREATE TABLE IF NOT EXISTS _cedb_databases("
    "  oid INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  sort_propid INTEGER NOT NULL,"
    "  sort_flags INTEGER NOT NULL,"
    "  next_auto INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS _cedb_properties("
    "  db INTEGER NOT NULL,"
    "  position INTEGER NOT NULL,"
    "  propid INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  PRIMARY KEY(db, position));";

std::string Quote(const std::string& identifier) {
  std::string out = "\"";
  for (char c : identifier) {
    if (c == '"')
      out += '"';
    out += c;
  }
  out += '"';
  return out;
}

bool KnownType(WORD type) {
  return type == CEVT_I4 || type == CEVT_LPWSTR || type == CEVT_FILETIME || type == CEVT_AUTO_I4;
}

LONG MapSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_SHARING_VIOLATION;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CONSTRAINT:
      return ERROR_ALREADY_EXISTS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return ERROR_BAD_FORMAT;
    case SQLITE_ERROR:
      // A statement on a table that is gone: the database was deleted under an open handle.
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

struct Schema {
  CEOID dbOid = 0;
  std::string name;  // as created, which is also the SQLite table name
  DWORD type = 0;
  SORTORDERSPEC sort;
  std::vector<CEPROPSPEC> props;  // with column names filled in

  const CEPROPSPEC* Find(CEPROPID id) const {
    for (const auto& p : props) {
      if (p.propid == id)
        return &p;
    }
    return nullptr;
  }
};

// The column that holds a property. Unnamed properties get a name from their id.
std::string ColumnName(const CEPROPSPEC& desc) {
  if (!desc.name.empty())
    return desc.name;
  return Format("P%08X", static_cast<unsigned>(desc.propid));
}

struct Volume {
  std::recursive_mutex mutex;
  sqlite3* db = nullptr;  // null once unmounted
  std::filesystem::path file;
  CEGUID guid;
  int mounts = 0;
  // Transaction state, guarded by `mutex` (which the owner holds once per level).
  int txDepth = 0;
  bool txDoomed = false;
  std::thread::id txOwner;
  std::map<std::string, sqlite3_stmt*> statements;

  ~Volume() { Close(); }

  void Close() {
    for (auto& [sql, stmt] : statements)
      sqlite3_finalize(stmt);
    statements.clear();
    if (db)
      sqlite3_close_v2(db);
    db = nullptr;
  }

  // A prepared statement, reset and ready for binding; null on failure with `*rc` set.
  sqlite3_stmt* Prepare(const std::string& sql, int* rc) {
    auto it = statements.find(sql);
    if (it != statements.end()) {
      sqlite3_reset(it->second);
      sqlite3_clear_bindings(it->second);
      *rc = SQLITE_OK;
      return it->second;
    }
    sqlite3_stmt* stmt = nullptr;
    *rc = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (*rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    statements.emplace(sql, stmt);
    return stmt;
  }

  // Statements that name a table must be dropped with it.
  void ForgetStatements() {
    for (auto& [sql, stmt] : statements)
      sqlite3_finalize(stmt);
    statements.clear();
  }

  int Exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
};

// Resets a cached statement when a call is done with it, so no read snapshot stays open.
class StmtUse {
 public:
  explicit StmtUse(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StmtUse() {
    if (stmt_)
      sqlite3_reset(stmt_);
  }
  StmtUse(const StmtUse&) = delete;
  StmtUse& operator=(const StmtUse&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

struct OpenDatabase {
  std::shared_ptr<Volume> volume;
  Schema schema;
  bool sorted = false;  // in the sort order, else in creation order
  CEOID position = 0;   // 0 = no position
  // The insert statement of the properties last written as a new record; guarded by the
  // volume's mutex.
  std::vector<CEPROPID> insertIds;
  std::string insertSql;
};

struct Registry {
  std::mutex mutex;
  std::map<std::filesystem::path, std::shared_ptr<Volume>> byFile;
  std::map<DWORD, std::shared_ptr<Volume>> byGuid;
  std::map<CEDBHANDLE, std::shared_ptr<OpenDatabase>> handles;
  DWORD nextGuid = 1;
  CEDBHANDLE nextHandle = 1;
};

Registry& Reg() {
  static Registry* registry = new Registry;  // outlives every static destructor that uses it
  return *registry;
}

std::shared_ptr<Volume> FindVolume(const CEGUID& guid) {
  if (guid.Data2 != 0 || guid.Data3 != 0 || guid.Data4 != 0)
    return nullptr;
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto it = reg.byGuid.find(guid.Data1);
  return it == reg.byGuid.end() ? nullptr : it->second;
}

std::shared_ptr<OpenDatabase> FindHandle(CEDBHANDLE handle) {
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto it = reg.handles.find(handle);
  return it == reg.handles.end() ? nullptr : it->second;
}

// Reads a database's description; ERROR_FILE_NOT_FOUND when there is none.
LONG LoadSchema(Volume& vol, const std::string& name, Schema* out) {
  int rc;
  sqlite3_stmt* st = vol.Prepare(
      "SELECT oid, name, type, sort_propid, sort_flags FROM _cedb_databases WHERE name = ?", &rc);
  if (!st)
    return MapSqlite(rc);
  StmtUse use(st);
  sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  rc = sqlite3_step(st);
  if (rc == SQLITE_DONE)
    return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW)
    return MapSqlite(rc);
  Schema schema;
  schema.dbOid = static_cast<CEOID>(sqlite3_column_int64(st, 0));
  schema.name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
  schema.type = static_cast<DWORD>(sqlite3_column_int64(st, 2));
  schema.sort.propid = static_cast<CEPROPID>(sqlite3_column_int64(st, 3));
  schema.sort.dwFlags = static_cast<DWORD>(sqlite3_column_int64(st, 4));

  sqlite3_stmt* ps = vol.Prepare(
      "SELECT propid, flags, name FROM _cedb_properties WHERE db = ? ORDER BY position", &rc);
  if (!ps)
    return MapSqlite(rc);
  StmtUse usePs(ps);
  sqlite3_bind_int64(ps, 1, schema.dbOid);
  while ((rc = sqlite3_step(ps)) == SQLITE_ROW) {
    CEPROPSPEC desc;
    desc.propid = static_cast<CEPROPID>(sqlite3_column_int64(ps, 0));
    desc.dwFlags = static_cast<DWORD>(sqlite3_column_int64(ps, 1));
    desc.name = reinterpret_cast<const char*>(sqlite3_column_text(ps, 2));
    schema.props.push_back(std::move(desc));
  }
  if (rc != SQLITE_DONE)
    return MapSqlite(rc);
  *out = std::move(schema);
  return ERROR_SUCCESS;
}

std::string OrderBy(const OpenDatabase& odb) {
  if (!odb.sorted)
    return " ORDER BY _oid";
  const CEPROPSPEC* key = odb.schema.Find(odb.schema.sort.propid);
  std::string clause = " ORDER BY " + Quote(ColumnName(*key));
  if (odb.schema.sort.dwFlags & CEDB_SORT_CASEINSENSITIVE)
    clause += " COLLATE NOCASE";
  clause += (odb.schema.sort.dwFlags & CEDB_SORT_DESCENDING) ? " DESC" : " ASC";
  clause += ", _oid";
  return clause;
}

void BindValue(sqlite3_stmt* st, int index, const CEPROPVAL& value) {
  if (value.wFlags & CEDB_PROPDELETE) {
    sqlite3_bind_null(st, index);
    return;
  }
  switch (TypeFromPropId(value.propid)) {
    case CEVT_LPWSTR:
      sqlite3_bind_text(st, index, value.lpwstr.data(), static_cast<int>(value.lpwstr.size()),
                        SQLITE_TRANSIENT);
      break;
    case CEVT_FILETIME:
      sqlite3_bind_int64(st, index, static_cast<std::int64_t>(value.filetime.ticks));
      break;
    default:
      sqlite3_bind_int64(st, index, value.lVal);
      break;
  }
}

CEPROPVAL ColumnValue(sqlite3_stmt* st, int col, CEPROPID id) {
  CEPROPVAL value;
  value.propid = id;
  if (sqlite3_column_type(st, col) == SQLITE_NULL) {
    value.wFlags = CEDB_PROPNOTFOUND;
    return value;
  }
  switch (TypeFromPropId(id)) {
    case CEVT_LPWSTR: {
      const unsigned char* text = sqlite3_column_text(st, col);
      int size = sqlite3_column_bytes(st, col);
      value.lpwstr.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
      break;
    }
    case CEVT_FILETIME:
      value.filetime.ticks = static_cast<std::uint64_t>(sqlite3_column_int64(st, col));
      break;
    default:
      value.lVal = static_cast<LONG>(sqlite3_column_int64(st, col));
      break;
  }
  return value;
}

// Holds a volume's lock for a call and reports whether the volume is still mounted.
class VolumeCall {
 public:
  explicit VolumeCall(Volume& vol) : lock_(vol.mutex), mounted_(vol.db != nullptr) {}
  bool mounted() const { return mounted_; }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  bool mounted_;
};

// Runs a statement without parameters through the volume's prepared statements, so that a
// statement run for every write is parsed once.
int Run(Volume& vol, const char* sql) {
  int rc;
  sqlite3_stmt* st = vol.Prepare(sql, &rc);
  if (!st)
    return rc;
  StmtUse use(st);
  rc = sqlite3_step(st);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// Runs `body` inside a savepoint, so that a write of several statements is all or nothing.
template <typename Body>
LONG Atomically(Volume& vol, Body body) {
  int rc = Run(vol, "SAVEPOINT cedb_write");
  if (rc != SQLITE_OK)
    return MapSqlite(rc);
  LONG result = body();
  if (result == ERROR_SUCCESS) {
    rc = Run(vol, "RELEASE cedb_write");
    if (rc == SQLITE_OK)
      return ERROR_SUCCESS;
    result = MapSqlite(rc);
  }
  Run(vol, "ROLLBACK TO cedb_write");
  Run(vol, "RELEASE cedb_write");
  return result;
}

// The condition and order that select the records from a position on, in the handle's order:
// those whose (sort key, oid) is not before the position's. Parameters: the position's key
// (unless it is null) and then its oid.
std::string FromPosition(const OpenDatabase& odb, bool keyIsNull) {
  if (!odb.sorted)
    return " WHERE _oid >= ?2 ORDER BY _oid";
  const CEPROPSPEC* key = odb.schema.Find(odb.schema.sort.propid);
  std::string column = Quote(ColumnName(*key));
  if (odb.schema.sort.dwFlags & CEDB_SORT_CASEINSENSITIVE)
    column += " COLLATE NOCASE";
  std::string where;
  // Null keys sort before every other key.
  if (odb.schema.sort.dwFlags & CEDB_SORT_DESCENDING) {
    where = keyIsNull ? column + " IS NULL AND _oid >= ?2"
                      : column + " < ?1 OR (" + column + " = ?1 AND _oid >= ?2) OR " + column +
                            " IS NULL";
  } else {
    // The key's range lets the index be entered at the position; the row value settles ties.
    where = keyIsNull ? "(" + column + " IS NULL AND _oid >= ?2) OR " + column + " IS NOT NULL"
                      : column + " >= ?1 AND (" + column + ", _oid) >= (?1, ?2)";
  }
  return " WHERE " + where + OrderBy(odb);
}

}  // namespace

bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME* out) {
  if (!IsValidSystemTime(st))
    return false;
  out->ticks = static_cast<std::uint64_t>(SystemTimeToMs(st) * kTicksPerMs + kUnixEpochTicks);
  return true;
}

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME* out) {
  if (ft.ticks >= 0x8000000000000000ULL)
    return false;
  std::int64_t ms = (static_cast<std::int64_t>(ft.ticks) - kUnixEpochTicks) / kTicksPerMs;
  if (static_cast<std::int64_t>(ft.ticks) < kUnixEpochTicks &&
      (static_cast<std::int64_t>(ft.ticks) - kUnixEpochTicks) % kTicksPerMs != 0) {
    --ms;  // floor for times before 1970
  }
  SYSTEMTIME st = MsToSystemTime(ms);
  if (!IsValidSystemTime(st))
    return false;
  *out = st;
  return true;
}

CEPROPVAL CEPROPVAL::Long(CEPROPID id, LONG value) {
  CEPROPVAL v;
  v.propid = id;
  v.lVal = value;
  return v;
}

CEPROPVAL CEPROPVAL::Text(CEPROPID id, std::string value) {
  CEPROPVAL v;
  v.propid = id;
  v.lpwstr = std::move(value);
  return v;
}

CEPROPVAL CEPROPVAL::Time(CEPROPID id, FILETIME value) {
  CEPROPVAL v;
  v.propid = id;
  v.filetime = value;
  return v;
}

LONG CeMountDBVol(const std::filesystem::path& file, CEGUID* guid) {
  CREATE_INVALIDGUID(guid);
  if (file.empty())
    return ERROR_INVALID_PARAMETER;
  std::error_code ec;
  std::filesystem::path key = std::filesystem::weakly_canonical(file, ec);
  if (ec)
    key = std::filesystem::absolute(file, ec);

  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto it = reg.byFile.find(key);
  if (it != reg.byFile.end()) {
    ++it->second->mounts;
    *guid = it->second->guid;
    return ERROR_SUCCESS;
  }

  auto vol = std::make_shared<Volume>();
  vol->file = key;
  int rc =
      sqlite3_open_v2(key.c_str(), &vol->db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    vol->Close();
    if ((rc & 0xFF) == SQLITE_CANTOPEN) {
      return std::filesystem::is_directory(key.parent_path(), ec) ? ERROR_ACCESS_DENIED
                                                                  : ERROR_PATH_NOT_FOUND;
    }
    return MapSqlite(rc);
  }
  sqlite3_busy_timeout(vol->db, 5000);
  rc = vol->Exec("PRAGMA journal_mode=WAL");
  if (rc == SQLITE_OK)
    rc = vol->Exec("PRAGMA synchronous=NORMAL");
  // A large transaction (an import) keeps its pages in memory until it commits, rather than
  // spilling them into the journal half-way.
  if (rc == SQLITE_OK)
    rc = vol->Exec("PRAGMA cache_size=-16384");
  // The journals of statements and savepoints inside a transaction (every write of an import)
  // are kept in memory rather than written to a temporary file.
  if (rc == SQLITE_OK)
    rc = vol->Exec("PRAGMA temp_store=MEMORY");
  if (rc == SQLITE_OK)
    rc = vol->Exec(kMetaSchema);
  if (rc != SQLITE_OK) {
    LONG err = (rc & 0xFF) == SQLITE_ERROR ? ERROR_BAD_FORMAT : MapSqlite(rc);
    vol->Close();
    return err;
  }
  vol->mounts = 1;
  vol->guid = CEGUID{reg.nextGuid++, 0, 0, 0};
  reg.byFile.emplace(key, vol);
  reg.byGuid.emplace(vol->guid.Data1, vol);
  *guid = vol->guid;
  return ERROR_SUCCESS;
}

LONG CeUnmountDBVol(const CEGUID& guid) {
  std::shared_ptr<Volume> vol;
  {
    Registry& reg = Reg();
    std::lock_guard lock(reg.mutex);
    if (guid.Data2 != 0 || guid.Data3 != 0 || guid.Data4 != 0)
      return ERROR_NOT_FOUND;
    auto it = reg.byGuid.find(guid.Data1);
    if (it == reg.byGuid.end())
      return ERROR_NOT_FOUND;
    vol = it->second;
    if (--vol->mounts > 0)
      return ERROR_SUCCESS;
    reg.byGuid.erase(it);
    reg.byFile.erase(vol->file);
    for (auto h = reg.handles.begin(); h != reg.handles.end();) {
      h = h->second->volume == vol ? reg.handles.erase(h) : std::next(h);
    }
  }
  std::lock_guard lock(vol->mutex);
  if (vol->txDepth > 0 && vol->txOwner == std::this_thread::get_id()) {
    // Unmounting inside one's own transaction abandons it.
    vol->Exec("ROLLBACK");
    for (; vol->txDepth > 0; --vol->txDepth)
      vol->mutex.unlock();
    vol->txDoomed = false;
  }
  vol->Close();
  return ERROR_SUCCESS;
}

LONG CeFlushDBVol(const CEGUID& guid) {
  auto vol = FindVolume(guid);
  if (!vol)
    return ERROR_NOT_FOUND;
  VolumeCall call(*vol);
  if (!call.mounted())
    return ERROR_NOT_FOUND;
  // Inside a transaction there is nothing committed to move yet; the commit makes it durable.
  if (vol->txDepth > 0)
    return ERROR_SUCCESS;
  int rc =
      sqlite3_wal_checkpoint_v2(vol->db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  // A reader in another process can hold the checkpoint back; what was committed is safe.
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
    return ERROR_SUCCESS;
  return MapSqlite(rc);
}

LONG CeCreateDatabase(const CEGUID& guid, const CEDBASEINFO& info,
                      const std::vector<CEPROPSPEC>& props, CEOID* oid) {
  if (oid)
    *oid = 0;
  auto vol = FindVolume(guid);
  if (!vol)
    return ERROR_NOT_FOUND;

  if (info.name.empty())
    return ERROR_INVALID_PARAMETER;
  if (Utf8Length(info.name) > CEDB_MAXDBASENAMELEN)
    return ERROR_BAD_LENGTH;
  std::string lower = ToLowerAscii(info.name);
  if (lower.rfind("sqlite_", 0) == 0 || lower.rfind("_cedb_", 0) == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  std::vector<CEPROPSPEC> descs = props;
  for (std::size_t i = 0; i < descs.size(); ++i) {
    if (!KnownType(TypeFromPropId(descs[i].propid)))
      return ERROR_NOT_SUPPORTED;
    descs[i].name = ColumnName(descs[i]);
    if (EqualsNoCase(descs[i].name, "_oid"))
      return ERROR_ALREADY_EXISTS;
    for (std::size_t j = 0; j < i; ++j) {
      if (descs[j].propid == descs[i].propid || EqualsNoCase(descs[j].name, descs[i].name)) {
        return ERROR_ALREADY_EXISTS;
      }
    }
  }
  const CEPROPSPEC* key = nullptr;
  if (info.sort.propid != 0) {
    for (const auto& s : descs) {
      if (s.propid == info.sort.propid)
        key = &s;
    }
    if (!key)
      return ERROR_INVALID_PARAMETER;
  }

  VolumeCall call(*vol);
  if (!call.mounted())
    return ERROR_NOT_FOUND;
  Schema existing;
  LONG found = LoadSchema(*vol, info.name, &existing);
  if (found == ERROR_SUCCESS)
    return ERROR_DUP_NAME;
  if (found != ERROR_FILE_NOT_FOUND)
    return found;

  CEOID created = 0;
  LONG result = Atomically(*vol, [&]() -> LONG {
    int rc;
    sqlite3_stmt* st = vol->Prepare(
        "INSERT INTO _cedb_databases(name, type, sort_propid, sort_flags) VALUES(?, ?, ?, ?)", &rc);
    if (!st)
      return MapSqlite(rc);
    {
      StmtUse use(st);
      sqlite3_bind_text(st, 1, info.name.data(), static_cast<int>(info.name.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_int64(st, 2, info.dwDbaseType);
      sqlite3_bind_int64(st, 3, info.sort.propid);
      sqlite3_bind_int64(st, 4, info.sort.dwFlags);
      rc = sqlite3_step(st);
      if (rc != SQLITE_DONE)
        return MapSqlite(rc);
    }
    created = static_cast<CEOID>(sqlite3_last_insert_rowid(vol->db));

    sqlite3_stmt* ps = vol->Prepare(
        "INSERT INTO _cedb_properties(db, position, propid, flags, name) VALUES(?, ?, ?, ?, ?)",
        &rc);
    if (!ps)
      return MapSqlite(rc);
    std::string columns;
    for (std::size_t i = 0; i < descs.size(); ++i) {
      StmtUse use(ps);
      sqlite3_bind_int64(ps, 1, created);
      sqlite3_bind_int64(ps, 2, static_cast<std::int64_t>(i));
      sqlite3_bind_int64(ps, 3, descs[i].propid);
      sqlite3_bind_int64(ps, 4, descs[i].dwFlags);
      sqlite3_bind_text(ps, 5, descs[i].name.data(), static_cast<int>(descs[i].name.size()),
                        SQLITE_TRANSIENT);
      rc = sqlite3_step(ps);
      if (rc != SQLITE_DONE)
        return MapSqlite(rc);
      columns += ", " + Quote(descs[i].name) +
                 (TypeFromPropId(descs[i].propid) == CEVT_LPWSTR ? " TEXT" : " INTEGER");
    }
    std::string sql = "CREATE TABLE " + Quote(info.name) +
                      "(_oid INTEGER PRIMARY KEY AUTOINCREMENT" + columns + ")";
    rc = vol->Exec(sql.c_str());
    if (rc != SQLITE_OK)
      return MapSqlite(rc);
    if (key) {
      std::string index =
          (info.sort.dwFlags & CEDB_SORT_UNIQUE) ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
      index += Quote("_cedb_sort_" + std::to_string(created)) + " ON " + Quote(info.name) + "(" +
               Quote(key->name);
      if (info.sort.dwFlags & CEDB_SORT_CASEINSENSITIVE)
        index += " COLLATE NOCASE";
      index += ")";
      rc = vol->Exec(index.c_str());
      if (rc != SQLITE_OK)
        return MapSqlite(rc);
    }
    return ERROR_SUCCESS;
  });
  if (result == ERROR_SUCCESS && oid)
    *oid = created;
  return result;
}

LONG CeOpenDatabase(const CEGUID& guid, const std::string& name, const SORTORDERSPEC& sort,
                    CEDBHANDLE* handle) {
  *handle = INVALID_CEDBHANDLE;
  auto vol = FindVolume(guid);
  if (!vol)
    return ERROR_NOT_FOUND;
  VolumeCall call(*vol);
  if (!call.mounted())
    return ERROR_NOT_FOUND;

  auto odb = std::make_shared<OpenDatabase>();
  odb->volume = vol;
  LONG result = LoadSchema(*vol, name, &odb->schema);
  if (result != ERROR_SUCCESS)
    return result;
  if (sort.propid != 0) {
    if (sort.propid != odb->schema.sort.propid)
      return ERROR_INVALID_PARAMETER;
    odb->sorted = true;
  }
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  *handle = reg.nextHandle++;
  reg.handles.emplace(*handle, std::move(odb));
  return ERROR_SUCCESS;
}

LONG CeCloseDatabase(CEDBHANDLE handle) {
  Registry& reg = Reg();
  std::lock_guard lock(reg.mutex);
  return reg.handles.erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG CeDeleteDatabase(const CEGUID& guid, const std::string& name) {
  auto vol = FindVolume(guid);
  if (!vol)
    return ERROR_NOT_FOUND;
  VolumeCall call(*vol);
  if (!call.mounted())
    return ERROR_NOT_FOUND;
  Schema schema;
  LONG result = LoadSchema(*vol, name, &schema);
  if (result != ERROR_SUCCESS)
    return result;
  vol->ForgetStatements();
  return Atomically(*vol, [&]() -> LONG {
    std::string sql = "DROP TABLE " + Quote(schema.name) + ";" +
                      "DELETE FROM _cedb_properties WHERE db = " + std::to_string(schema.dbOid) +
                      ";" +
                      "DELETE FROM _cedb_databases WHERE oid = " + std::to_string(schema.dbOid);
    return MapSqlite(vol->Exec(sql.c_str()));
  });
}

LONG CeSeekDatabase(CEDBHANDLE handle, DWORD seekType, DWORD offset, const CEPROPVAL* value,
                    CEOID* oid) {
  if (oid)
    *oid = 0;
  auto odb = FindHandle(handle);
  if (!odb)
    return ERROR_INVALID_HANDLE;
  Volume& vol = *odb->volume;
  VolumeCall call(vol);
  if (!call.mounted())
    return ERROR_INVALID_HANDLE;

  const std::string table = Quote(odb->schema.name);
  std::string sql;
  switch (seekType) {
    case CEDB_SEEK_BEGINNING:
      sql = "SELECT _oid FROM " + table + OrderBy(*odb) + " LIMIT 1 OFFSET ?";
      break;
    case CEDB_SEEK_CEOID:
      sql = "SELECT _oid FROM " + table + " WHERE _oid = ?";
      break;
    case CEDB_SEEK_VALUEFIRSTEQUAL: {
      if (!odb->sorted || !value || value->propid != odb->schema.sort.propid) {
        return ERROR_INVALID_PARAMETER;
      }
      const CEPROPSPEC* key = odb->schema.Find(odb->schema.sort.propid);
      std::string where = " WHERE " + Quote(ColumnName(*key)) + " = ?";
      if (odb->schema.sort.dwFlags & CEDB_SORT_CASEINSENSITIVE)
        where += " COLLATE NOCASE";
      sql = "SELECT _oid FROM " + table + where + OrderBy(*odb) + " LIMIT 1";
      break;
    }
    default:
      return ERROR_INVALID_PARAMETER;
  }
  int rc;
  sqlite3_stmt* st = vol.Prepare(sql, &rc);
  if (!st)
    return MapSqlite(rc);
  StmtUse use(st);
  if (seekType == CEDB_SEEK_VALUEFIRSTEQUAL) {
    BindValue(st, 1, *value);
  } else {
    sqlite3_bind_int64(st, 1, offset);
  }
  rc = sqlite3_step(st);
  if (rc == SQLITE_DONE) {
    odb->position = 0;
    return ERROR_SEEK;
  }
  if (rc != SQLITE_ROW)
    return MapSqlite(rc);
  odb->position = static_cast<CEOID>(sqlite3_column_int64(st, 0));
  if (oid)
    *oid = odb->position;
  return ERROR_SUCCESS;
}

LONG CeReadRecordProps(CEDBHANDLE handle, const std::vector<CEPROPID>* wanted,
                       std::vector<CEPROPVAL>* props, CEOID* oid) {
  props->clear();
  if (oid)
    *oid = 0;
  auto odb = FindHandle(handle);
  if (!odb)
    return ERROR_INVALID_HANDLE;
  Volume& vol = *odb->volume;
  VolumeCall call(vol);
  if (!call.mounted())
    return ERROR_INVALID_HANDLE;
  if (odb->position == 0)
    return ERROR_NO_MORE_ITEMS;

  std::vector<const CEPROPSPEC*> columns;
  std::vector<CEPROPID> missing;  // wanted properties the database does not have
  if (wanted) {
    for (CEPROPID id : *wanted) {
      const CEPROPSPEC* desc = odb->schema.Find(id);
      if (desc) {
        columns.push_back(desc);
      } else {
        missing.push_back(id);
      }
    }
  } else {
    for (const auto& desc : odb->schema.props)
      columns.push_back(&desc);
  }
  std::string sql = "SELECT _oid";
  for (const auto* desc : columns)
    sql += ", " + Quote(desc->name);
  sql += " FROM " + Quote(odb->schema.name) + " WHERE _oid = ?";
  int rc;
  sqlite3_stmt* st = vol.Prepare(sql, &rc);
  if (!st)
    return MapSqlite(rc);
  StmtUse use(st);
  sqlite3_bind_int64(st, 1, odb->position);
  rc = sqlite3_step(st);
  if (rc == SQLITE_DONE)
    return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW)
    return MapSqlite(rc);

  std::map<CEPROPID, CEPROPVAL> read;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    CEPROPVAL v = ColumnValue(st, static_cast<int>(i + 1), columns[i]->propid);
    if (wanted || !(v.wFlags & CEDB_PROPNOTFOUND))
      read.emplace(v.propid, std::move(v));
  }
  if (wanted) {
    for (CEPROPID id : *wanted) {
      auto it = read.find(id);
      if (it != read.end()) {
        props->push_back(it->second);
      } else {
        CEPROPVAL absent;
        absent.propid = id;
        absent.wFlags = CEDB_PROPNOTFOUND;
        props->push_back(absent);
      }
    }
  } else {
    for (const auto* desc : columns) {
      auto it = read.find(desc->propid);
      if (it != read.end())
        props->push_back(std::move(it->second));
    }
  }
  if (oid)
    *oid = odb->position;
  return ERROR_SUCCESS;
}

LONG CeReadRecordsFrom(CEDBHANDLE handle, DWORD maxCount, std::vector<CERECORD>* records) {
  records->clear();
  auto odb = FindHandle(handle);
  if (!odb)
    return ERROR_INVALID_HANDLE;
  if (maxCount == 0)
    return ERROR_INVALID_PARAMETER;
  Volume& vol = *odb->volume;
  VolumeCall call(vol);
  if (!call.mounted())
    return ERROR_INVALID_HANDLE;
  if (odb->position == 0)
    return ERROR_NO_MORE_ITEMS;

  const Schema& schema = odb->schema;
  const std::string table = Quote(schema.name);
  const CEPROPSPEC* key = odb->sorted ? schema.Find(schema.sort.propid) : nullptr;
  int rc;
  // Where the position stands in the order: its key.
  CEPROPVAL positionKey;
  {
    std::string sql = "SELECT " + (key ? Quote(ColumnName(*key)) : std::string("_oid")) + " FROM " +
                      table + " WHERE _oid = ?";
    sqlite3_stmt* st = vol.Prepare(sql, &rc);
    if (!st)
      return MapSqlite(rc);
    StmtUse use(st);
    sqlite3_bind_int64(st, 1, odb->position);
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE)
      return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW)
      return MapSqlite(rc);
    if (key)
      positionKey = ColumnValue(st, 0, key->propid);
  }
  const bool keyIsNull = key && (positionKey.wFlags & CEDB_PROPNOTFOUND);

  std::string sql = "SELECT _oid";
  for (const auto& desc : schema.props)
    sql += ", " + Quote(desc.name);
  sql += " FROM " + table + FromPosition(*odb, keyIsNull) + " LIMIT ?3";
  sqlite3_stmt* st = vol.Prepare(sql, &rc);
  if (!st)
    return MapSqlite(rc);
  StmtUse use(st);
  if (key && !keyIsNull)
    BindValue(st, 1, positionKey);
  sqlite3_bind_int64(st, 2, odb->position);
  // One record more than asked for: the one the next call begins with.
  sqlite3_bind_int64(st, 3, static_cast<std::int64_t>(maxCount) + 1);
  CEOID next = 0;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    CEOID oid = static_cast<CEOID>(sqlite3_column_int64(st, 0));
    if (records->size() == maxCount) {
      next = oid;
      break;
    }
    CERECORD record;
    record.oid = oid;
    record.props.reserve(schema.props.size());
    for (std::size_t i = 0; i < schema.props.size(); ++i) {
      CEPROPVAL v = ColumnValue(st, static_cast<int>(i + 1), schema.props[i].propid);
      if (!(v.wFlags & CEDB_PROPNOTFOUND))
        record.props.push_back(std::move(v));
    }
    records->push_back(std::move(record));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    records->clear();
    return MapSqlite(rc);
  }
  odb->position = next;
  return ERROR_SUCCESS;
}

LONG CeGetRecordCount(CEDBHANDLE handle, DWORD* count) {
  *count = 0;
  auto odb = FindHandle(handle);
  if (!odb)
    return ERROR_INVALID_HANDLE;
  Volume& vol = *odb->volume;
  VolumeCall call(vol);
  if (!call.mounted())
    return ERROR_INVALID_HANDLE;
  int rc;
  sqlite3_stmt* st = vol.Prepare("SELECT count(*) FROM " + Quote(odb->schema.name), &rc);
  if (!st)
    return MapSqlite(rc);
  StmtUse use(st);
  rc = sqlite3_step(st);
  if (rc != SQLITE_ROW)
    return MapSqlite(rc);
  *count = static_cast<DWORD>(sqlite3_column_int64(st, 0));
  return ERROR_SUCCESS;
}

LONG CeWriteRecordProps(CEDBHANDLE handle, CEOID oid, const std::vector<CEPROPVAL>& props,
                        CEOID* written) {
  if (written)
    *written = 0;
  auto odb = FindHandle(handle);
  if (!odb)
    return ERROR_INVALID_HANDLE;
  Volume& vol = *odb->volume;
  VolumeCall call(vol);
  if (!call.mounted())
    return ERROR_INVALID_HANDLE;

  const Schema& schema = odb->schema;
  const CEPROPSPEC* key = schema.sort.propid ? schema.Find(schema.sort.propid) : nullptr;
  bool keyGiven = false;
  for (std::size_t i = 0; i < props.size(); ++i) {
    const CEPROPSPEC* desc = schema.Find(props[i].propid);
    if (!desc)
      return ERROR_INVALID_PARAMETER;
    if (TypeFromPropId(desc->propid) == CEVT_AUTO_I4)
      return ERROR_ACCESS_DENIED;
    for (std::size_t j = 0; j < i; ++j) {
      if (props[j].propid == props[i].propid)
        return ERROR_INVALID_PARAMETER;
    }
    if (desc == key) {
      if ((schema.sort.dwFlags & CEDB_SORT_NONNULL) && (props[i].wFlags & CEDB_PROPDELETE)) {
        return ERROR_INVALID_PARAMETER;
      }
      keyGiven = true;
    }
  }

  const std::string table = Quote(schema.name);
  CEOID result = 0;
  // Each write is one statement, atomic by itself (an insert that counts on an auto number
  // undoes itself when the count fails), so no savepoint is needed around it.
  auto write = [&]() -> LONG {
    int rc;
    if (oid == 0) {
      if (key && (schema.sort.dwFlags & CEDB_SORT_NONNULL) && !keyGiven &&
          TypeFromPropId(key->propid) != CEVT_AUTO_I4) {
        return ERROR_INVALID_PARAMETER;
      }
      // Auto-numbered properties take the database's next number.
      std::vector<const CEPROPSPEC*> autos;
      for (const auto& desc : schema.props) {
        if (TypeFromPropId(desc.propid) == CEVT_AUTO_I4)
          autos.push_back(&desc);
      }
      // The statement text of the last list of properties written through this handle is kept,
      // since a table writes the same list again and again. Auto-numbered properties take the
      // database's next number within the insert itself.
      std::vector<CEPROPID> ids;
      ids.reserve(props.size());
      for (const auto& p : props)
        ids.push_back(p.propid);
      if (ids != odb->insertIds || odb->insertSql.empty()) {
        std::string names, marks;
        for (const auto& p : props) {
          names += (names.empty() ? "" : ", ") + Quote(schema.Find(p.propid)->name);
          marks += marks.empty() ? "?" : ", ?";
        }
        for (const auto* desc : autos) {
          names += (names.empty() ? "" : ", ") + Quote(desc->name);
          marks += std::string(marks.empty() ? "" : ", ") + "(SELECT next_auto FROM " +
                   "_cedb_databases WHERE oid = " + std::to_string(schema.dbOid) + ")";
        }
        odb->insertSql = names.empty()
                             ? "INSERT INTO " + table + " DEFAULT VALUES"
                             : "INSERT INTO " + table + "(" + names + ") VALUES(" + marks + ")";
        odb->insertIds = std::move(ids);
      }
      sqlite3_stmt* st = vol.Prepare(odb->insertSql, &rc);
      if (!st)
        return MapSqlite(rc);
      {
        StmtUse use(st);
        int index = 1;
        for (const auto& p : props)
          BindValue(st, index++, p);
        rc = sqlite3_step(st);
        if (rc != SQLITE_DONE)
          return MapSqlite(rc);
      }
      result = static_cast<CEOID>(sqlite3_last_insert_rowid(vol.db));
      if (!autos.empty()) {
        // The number is taken only once the record is in; should counting on fail, the record
        // goes again, so that a number is never given twice.
        sqlite3_stmt* up =
            vol.Prepare("UPDATE _cedb_databases SET next_auto = next_auto + 1 WHERE oid = ?", &rc);
        LONG counted = ERROR_SUCCESS;
        if (!up) {
          counted = MapSqlite(rc);
        } else {
          StmtUse use(up);
          sqlite3_bind_int64(up, 1, schema.dbOid);
          rc = sqlite3_step(up);
          if (rc != SQLITE_DONE)
            counted = MapSqlite(rc);
          else if (sqlite3_changes(vol.db) == 0)
            counted = ERROR_INVALID_HANDLE;  // the database is gone
        }
        if (counted != ERROR_SUCCESS) {
          sqlite3_stmt* del = vol.Prepare("DELETE FROM " + table + " WHERE _oid = ?", &rc);
          if (del) {
            StmtUse use(del);
            sqlite3_bind_int64(del, 1, result);
            sqlite3_step(del);
          }
          return counted;
        }
      }
      return ERROR_SUCCESS;
    }

    if (props.empty()) {
      sqlite3_stmt* st = vol.Prepare("SELECT 1 FROM " + table + " WHERE _oid = ?", &rc);
      if (!st)
        return MapSqlite(rc);
      StmtUse use(st);
      sqlite3_bind_int64(st, 1, oid);
      rc = sqlite3_step(st);
      if (rc == SQLITE_DONE)
        return ERROR_NOT_FOUND;
      if (rc != SQLITE_ROW)
        return MapSqlite(rc);
      result = oid;
      return ERROR_SUCCESS;
    }
    std::string sets;
    for (const auto& p : props) {
      sets += (sets.empty() ? "" : ", ") + Quote(schema.Find(p.propid)->name) + " = ?";
    }
    sqlite3_stmt* st = vol.Prepare("UPDATE " + table + " SET " + sets + " WHERE _oid = ?", &rc);
    if (!st)
      return MapSqlite(rc);
    StmtUse use(st);
    int index = 1;
    for (const auto& p : props)
      BindValue(st, index++, p);
    sqlite3_bind_int64(st, index, oid);
    rc = sqlite3_step(st);
    if (rc != SQLITE_DONE)
      return MapSqlite(rc);
    if (sqlite3_changes(vol.db) == 0)
      return ERROR_NOT_FOUND;
    result = oid;
    return ERROR_SUCCESS;
  };
  LONG status = write();
  if (status != ERROR_SUCCESS)
    return status;
  odb->position = result;
  if (written)
    *written = result;
  return ERROR_SUCCESS;
}

LONG CeDeleteRecord(CEDBHANDLE handle, CEOID oid) {
  auto odb = FindHandle(handle);
  if (!odb)
    return ERROR_INVALID_HANDLE;
  if (oid == 0)
    return ERROR_INVALID_PARAMETER;
  Volume& vol = *odb->volume;
  VolumeCall call(vol);
  if (!call.mounted())
    return ERROR_INVALID_HANDLE;
  int rc;
  sqlite3_stmt* st = vol.Prepare("DELETE FROM " + Quote(odb->schema.name) + " WHERE _oid = ?", &rc);
  if (!st)
    return MapSqlite(rc);
  StmtUse use(st);
  sqlite3_bind_int64(st, 1, oid);
  rc = sqlite3_step(st);
  if (rc != SQLITE_DONE)
    return MapSqlite(rc);
  return sqlite3_changes(vol.db) == 0 ? ERROR_NOT_FOUND : ERROR_SUCCESS;
}

LONG CeBeginTransaction(const CEGUID& guid) {
  auto vol = FindVolume(guid);
  if (!vol)
    return ERROR_NOT_FOUND;
  vol->mutex.lock();  // held until the matching commit or rollback
  if (!vol->db) {
    vol->mutex.unlock();
    return ERROR_NOT_FOUND;
  }
  if (vol->txDepth == 0) {
    int rc = vol->Exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) {
      vol->mutex.unlock();
      return MapSqlite(rc);
    }
    vol->txOwner = std::this_thread::get_id();
    vol->txDoomed = false;
  }
  ++vol->txDepth;
  return ERROR_SUCCESS;
}

namespace {

// Ends one level of the calling thread's transaction on `vol`.
LONG EndTransaction(const CEGUID& guid, bool commit) {
  auto vol = FindVolume(guid);
  if (!vol)
    return ERROR_NOT_FOUND;
  std::unique_lock lock(vol->mutex);
  if (vol->txDepth == 0 || vol->txOwner != std::this_thread::get_id()) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!commit)
    vol->txDoomed = true;
  LONG result = ERROR_SUCCESS;
  if (vol->txDepth == 1) {
    if (vol->txDoomed) {
      vol->Exec("ROLLBACK");
      // A commit of a transaction that an inner level rolled back reports that nothing was kept.
      if (commit)
        result = ERROR_GEN_FAILURE;
    } else {
      int rc = vol->Exec("COMMIT");
      if (rc != SQLITE_OK) {
        vol->Exec("ROLLBACK");
        result = MapSqlite(rc);
      }
    }
    vol->txDoomed = false;
    vol->txOwner = std::thread::id();
  }
  --vol->txDepth;
  vol->mutex.unlock();  // the hold taken by the matching begin
  return result;
}

}  // namespace

LONG CeCommitTransaction(const CEGUID& guid) {
  return EndTransaction(guid, true);
}

LONG CeRollbackTransaction(const CEGUID& guid) {
  return EndTransaction(guid, false);
}

}  // namespace platform

// The phone's database volume engine, simulated on SQLite.
//
// A volume is one file that holds any number of databases. A database is a set of records, each
// record a set of typed properties (32-bit integers, auto-numbered integers, texts and times),
// kept in the order of the database's one sort order. The program mounts a volume, creates or
// opens its databases by name, moves a per-handle seek position (to the n-th record in sort
// order, to an object id, to the first record whose key equals a value), reads and writes the
// record at that position, deletes records and flushes the volume.
//
// On disk a volume is one SQLite file; every database is one SQLite table whose columns are
// named by the property names, so the data can be read with the sqlite3 shell. Object ids are
// the tables' rowids and are never reused within a database. Auto-numbered properties count
// from 0 in each database and are never reused either, so a deleted record's number never comes
// back to a new record.
//
// Every call returns ERROR_SUCCESS or one of the system's error codes below; the caller maps
// the codes to its own messages. All calls are thread-safe: the calls on one volume are
// serialised, and each open database handle keeps its own seek position. A transaction
// (CeBeginTransaction) belongs to the thread that began it; calls from other threads on the
// same volume wait until it is committed or rolled back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Time.h"
#include "platform/Types.h"

namespace platform {

// Error codes the engine returns besides those in Types.h (the system's own numbers).
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_BAD_LENGTH = 24;
inline constexpr LONG ERROR_SEEK = 25;
inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;
inline constexpr LONG ERROR_DUP_NAME = 52;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_NO_DATA = 232;
inline constexpr LONG ERROR_NOT_FOUND = 1168;

// Object id of a record (the rowid of its table). 0 = none.
using CEOID = DWORD;
// A property id: the property's number in the high 16 bits, its type in the low 16 bits.
using CEPROPID = DWORD;
// An open database. 0 = none.
using CEDBHANDLE = std::uint64_t;
inline constexpr CEDBHANDLE INVALID_CEDBHANDLE = 0;

// Property types.
inline constexpr WORD CEVT_I4 = 0x0003;        // 32-bit signed integer
inline constexpr WORD CEVT_LPWSTR = 0x001F;    // text
inline constexpr WORD CEVT_FILETIME = 0x0040;  // a point in time (FILETIME)
inline constexpr WORD CEVT_AUTO_I4 = 0x0066;   // 32-bit integer numbered by the database on insert

constexpr CEPROPID MakePropId(WORD number, WORD type) {
  return (static_cast<CEPROPID>(number) << 16) | type;
}
constexpr WORD TypeFromPropId(CEPROPID id) {
  return static_cast<WORD>(id & 0xFFFF);
}

// Identifies a mounted volume. All four words 0xFFFFFFFF = no volume.
struct CEGUID {
  DWORD Data1 = 0xFFFFFFFF;
  DWORD Data2 = 0xFFFFFFFF;
  DWORD Data3 = 0xFFFFFFFF;
  DWORD Data4 = 0xFFFFFFFF;

  friend bool operator==(const CEGUID&, const CEGUID&) = default;
};
inline void CREATE_INVALIDGUID(CEGUID* guid) {
  *guid = CEGUID{};
}
inline bool CHECK_INVALIDGUID(const CEGUID& guid) {
  return guid == CEGUID{};
}

// 100-nanosecond intervals since 1601-01-01 00:00.
struct FILETIME {
  std::uint64_t ticks = 0;
  friend bool operator==(const FILETIME&, const FILETIME&) = default;
};
// False (and `out` untouched) when `st` is not a valid date and time.
bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME* out);
// The day of week is filled in. False for a time beyond the year 30827.
bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME* out);

// Flags of a property value.
inline constexpr WORD CEDB_PROPNOTFOUND = 0x0100;  // read: the record has no such property
inline constexpr WORD CEDB_PROPDELETE = 0x0200;    // write: remove the property from the record

struct CEPROPVAL {
  CEPROPID propid = 0;
  WORD wFlags = 0;
  LONG lVal = 0;       // CEVT_I4, CEVT_AUTO_I4
  std::string lpwstr;  // CEVT_LPWSTR (UTF-8)
  FILETIME filetime;   // CEVT_FILETIME

  static CEPROPVAL Long(CEPROPID id, LONG value);
  static CEPROPVAL Text(CEPROPID id, std::string value);
  static CEPROPVAL Time(CEPROPID id, FILETIME value);
};

// A property of a database: its id, flags (kept, not interpreted) and column name.
struct CEPROPSPEC {
  CEPROPID propid = 0;
  DWORD dwFlags = 0;
  std::string name;
};

// Sort-order key flags.
inline constexpr DWORD CEDB_SORT_DESCENDING = 0x0001;
inline constexpr DWORD CEDB_SORT_CASEINSENSITIVE = 0x0002;
inline constexpr DWORD CEDB_SORT_UNIQUE = 0x0200;
inline constexpr DWORD CEDB_SORT_NONNULL = 0x1000;

// The one sort order of a database: records are kept in the order of this property. A propid
// of 0 when opening means the order in which the records were created.
struct SORTORDERSPEC {
  CEPROPID propid = 0;
  DWORD dwFlags = 0;
};

// Longest database name, in characters.
inline constexpr std::size_t CEDB_MAXDBASENAMELEN = 32;

struct CEDBASEINFO {
  std::string name;
  DWORD dwDbaseType = 0;
  SORTORDERSPEC sort;
};

// Seek types.
inline constexpr DWORD CEDB_SEEK_CEOID = 0x00000001;            // to the record with that oid
inline constexpr DWORD CEDB_SEEK_BEGINNING = 0x00000002;        // to the record at that offset
inline constexpr DWORD CEDB_SEEK_VALUEFIRSTEQUAL = 0x00000010;  // to the first with that key

// Mounts the volume file, creating it empty when it is missing. Mounting a file that this
// process has mounted already returns the same volume and counts one more mount.
// Errors: ERROR_INVALID_PARAMETER (empty path), ERROR_ACCESS_DENIED (cannot be opened or is not
// a volume), ERROR_DISK_FULL.
LONG CeMountDBVol(const std::filesystem::path& file, CEGUID* guid);
// Undoes one mount; the last one closes the file and every handle still open on the volume
// (their calls then fail with ERROR_INVALID_HANDLE). ERROR_NOT_FOUND when not mounted.
LONG CeUnmountDBVol(const CEGUID& guid);
// Makes everything written so far part of the volume file itself, so that a plain copy of the
// file holds it. ERROR_NOT_FOUND when not mounted.
LONG CeFlushDBVol(const CEGUID& guid);

// Creates a database with its properties and its sort order; `oid` receives the database's id.
// Errors: ERROR_NOT_FOUND (volume), ERROR_DUP_NAME (a database of that name exists),
// ERROR_BAD_LENGTH (name too long), ERROR_ALREADY_EXISTS (a property id or name given twice),
// ERROR_NOT_SUPPORTED (unknown property type), ERROR_INVALID_PARAMETER (empty or reserved
// name, a sort property that is not among the properties).
LONG CeCreateDatabase(const CEGUID& guid, const CEDBASEINFO& info,
                      const std::vector<CEPROPSPEC>& props, CEOID* oid = nullptr);
// Opens a database by name (case-insensitive). `sort` must be the database's sort order or have
// propid 0. Errors: ERROR_NOT_FOUND (volume), ERROR_FILE_NOT_FOUND (no such database),
// ERROR_INVALID_PARAMETER (other sort order).
LONG CeOpenDatabase(const CEGUID& guid, const std::string& name, const SORTORDERSPEC& sort,
                    CEDBHANDLE* handle);
LONG CeCloseDatabase(CEDBHANDLE handle);
// Deletes a database with all its records. ERROR_FILE_NOT_FOUND when there is none.
LONG CeDeleteDatabase(const CEGUID& guid, const std::string& name);

// Moves the handle's position. CEDB_SEEK_BEGINNING: `offset` records after the first in sort
// order; CEDB_SEEK_CEOID: `value->lVal` is unused and `offset` is the oid;
// CEDB_SEEK_VALUEFIRSTEQUAL: the first record whose sort property equals `*value`. `oid`
// receives the record found. ERROR_SEEK when there is no such record (the handle then has no
// position), ERROR_INVALID_PARAMETER for a value of the wrong property or an unknown type.
LONG CeSeekDatabase(CEDBHANDLE handle, DWORD seekType, DWORD offset, const CEPROPVAL* value,
                    CEOID* oid);

// Reads the record at the handle's position (the position does not move). With `wanted` null
// every property the record has is returned, in the order of the database's properties; else
// exactly the wanted ones, with CEDB_PROPNOTFOUND on those the record lacks. Errors:
// ERROR_NO_MORE_ITEMS (no position), ERROR_KEY_DELETED (the record was deleted meanwhile),
// ERROR_INVALID_HANDLE.
LONG CeReadRecordProps(CEDBHANDLE handle, const std::vector<CEPROPID>* wanted,
                       std::vector<CEPROPVAL>* props, CEOID* oid = nullptr);

// One record of a batch read: its oid and every property it has, in the order of the
// database's properties (as CeReadRecordProps returns them with `wanted` null).
struct CERECORD {
  CEOID oid = 0;
  std::vector<CEPROPVAL> props;
};

// Reads up to `maxCount` records in the handle's order, beginning with the record at the handle's
// position, and moves the position to the record that follows the last one read (no position
// once the database's last record was read). Each call continues where the last one stopped
// through the sort key and oid of the position, so a walk over a whole database (a seek to its
// beginning, then calls until ERROR_NO_MORE_ITEMS) reads every record once, in time linear in
// the database. Errors: ERROR_NO_MORE_ITEMS (no position), ERROR_KEY_DELETED (the record at the
// position was deleted meanwhile), ERROR_INVALID_PARAMETER (`maxCount` 0), ERROR_INVALID_HANDLE.
LONG CeReadRecordsFrom(CEDBHANDLE handle, DWORD maxCount, std::vector<CERECORD>* records);

// The number of records of the database. Errors: ERROR_INVALID_HANDLE.
LONG CeGetRecordCount(CEDBHANDLE handle, DWORD* count);

// Writes properties: into a new record when `oid` is 0 (auto-numbered properties are assigned
// then), else into the existing record, leaving its other properties as they are. The position
// moves to the record written; `written` receives its oid. Errors: ERROR_NOT_FOUND (no record
// with that oid), ERROR_ALREADY_EXISTS (the unique sort key is taken), ERROR_ACCESS_DENIED (a
// value for an auto-numbered property), ERROR_INVALID_PARAMETER (a property the database does
// not have), ERROR_INVALID_HANDLE, ERROR_DISK_FULL, ERROR_SHARING_VIOLATION.
LONG CeWriteRecordProps(CEDBHANDLE handle, CEOID oid, const std::vector<CEPROPVAL>& props,
                        CEOID* written = nullptr);
// Deletes one record. ERROR_INVALID_PARAMETER for oid 0, ERROR_NOT_FOUND when there is no
// such record.
LONG CeDeleteRecord(CEDBHANDLE handle, CEOID oid);

// Transactions over a whole volume. Nested begins join the outer transaction; the outermost
// commit makes the changes durable; a rollback at any depth undoes the whole transaction and
// ends it (the later commits or rollbacks of the outer levels then only unwind). While one
// thread holds a transaction, other threads' calls on the volume wait for its end.
LONG CeBeginTransaction(const CEGUID& guid);
LONG CeCommitTransaction(const CEGUID& guid);
LONG CeRollbackTransaction(const CEGUID& guid);

}  // namespace platform

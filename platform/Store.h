// A thin, thread-safe wrapper over one SQLite connection.
//
// Every process that uses a device opens its own connection to the device store; within a
// process the connection is shared by all threads and serialised by one recursive mutex. A
// `Statement` holds that mutex for as long as it lives, so a statement and the transaction it
// belongs to are never interleaved with another thread's.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Store;

class Statement {
 public:
  Statement(Store& store, sqlite3_stmt* stmt);
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
  Statement& Bind(int index, unsigned value) {
    return Bind(index, static_cast<std::int64_t>(value));
  }
  Statement& Bind(int index, const std::string& value);
  Statement& Bind(int index, const char* value) { return Bind(index, std::string(value)); }
  Statement& BindBlob(int index, const void* data, std::size_t size);
  Statement& BindNull(int index);

  // Advances to the next row; false when there is none. Throws StoreError on failure.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  bool IsNull(int col) const;
  std::int64_t Int(int col) const;
  std::string Text(int col) const;
  std::vector<std::uint8_t> Blob(int col) const;
  int ColumnType(int col) const;

 private:
  Store* store_;
  sqlite3_stmt* stmt_;
  std::unique_lock<std::recursive_mutex> lock_;
};

class Store {
 public:
  // Opens (creating when missing) the SQLite file in WAL mode. Throws StoreError.
  explicit Store(const std::filesystem::path& file);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  Statement Prepare(const std::string& sql);
  void Exec(const std::string& sql);

  // Runs `body` inside BEGIN IMMEDIATE ... COMMIT; rolls back and rethrows when it throws.
  // Nested calls on the same thread join the outer transaction.
  void Transaction(const std::function<void()>& body);

  std::int64_t LastInsertId();
  int Changes();

  // Key/value settings of the store itself (schema version, clock offset, ...).
  std::optional<std::string> GetMeta(const std::string& key);
  void SetMeta(const std::string& key, const std::string& value);

  std::recursive_mutex& Mutex() { return mutex_; }
  sqlite3* Handle() { return db_; }
  [[noreturn]] void Fail(const std::string& what);

 private:
  sqlite3* db_ = nullptr;
  std::recursive_mutex mutex_;
  std::map<std::string, sqlite3_stmt*> cache_;
  int transactionDepth_ = 0;
};

}  // namespace platform

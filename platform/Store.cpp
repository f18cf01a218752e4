#include "platform/Store.h"

namespace platform {

Statement::Statement(Store& store, sqlite3_stmt* stmt)
    : store_(&store), stmt_(stmt), lock_(store.Mutex()) {}

Statement::Statement(Statement&& other) noexcept
    : store_(other.store_), stmt_(other.stmt_), lock_(std::move(other.lock_)) {
  other.stmt_ = nullptr;
}

Statement::~Statement() {
  if (stmt_) {
    // Reset so that the connection does not keep an old snapshot open.
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

Statement& Statement::Bind(int index, std::int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, std::size_t size) {
  sqlite3_bind_blob(stmt_, index, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(stmt_, index);
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW)
    return true;
  if (rc == SQLITE_DONE)
    return false;
  store_->Fail("step");
}

void Statement::Run() {
  while (Step()) {
  }
}

bool Statement::IsNull(int col) const {
  return sqlite3_column_type(stmt_, col) == SQLITE_NULL;
}

std::int64_t Statement::Int(int col) const {
  return sqlite3_column_int64(stmt_, col);
}

std::string Statement::Text(int col) const {
  const unsigned char* p = sqlite3_column_text(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}

std::vector<std::uint8_t> Statement::Blob(int col) const {
  const void* p = sqlite3_column_blob(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  if (!p || n <= 0)
    return {};
  auto* b = static_cast<const std::uint8_t*>(p);
  return std::vector<std::uint8_t>(b, b + n);
}

int Statement::ColumnType(int col) const {
  return sqlite3_column_type(stmt_, col);
}

Store::Store(const std::filesystem::path& file) {
  int rc =
      sqlite3_open_v2(file.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError("cannot open " + file.string() + ": " + msg);
  }
  sqlite3_busy_timeout(db_, 10000);
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  Exec("PRAGMA foreign_keys=ON");
}

Store::~Store() {
  for (auto& [sql, stmt] : cache_)
    sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

void Store::Fail(const std::string& what) {
  throw StoreError("device store: " + what + ": " + sqlite3_errmsg(db_));
}

Statement Store::Prepare(const std::string& sql) {
  std::unique_lock lock(mutex_);
  auto it = cache_.find(sql);
  if (it == cache_.end()) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      Fail("prepare \"" + sql + "\"");
    }
    it = cache_.emplace(sql, stmt).first;
  }
  return Statement(*this, it->second);
}

void Store::Exec(const std::string& sql) {
  std::unique_lock lock(mutex_);
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "unknown error";
    sqlite3_free(err);
    throw StoreError("device store: " + msg);
  }
}

void Store::Transaction(const std::function<void()>& body) {
  std::unique_lock lock(mutex_);
  if (transactionDepth_ > 0) {
    ++transactionDepth_;
    try {
      body();
    } catch (...) {
      --transactionDepth_;
      throw;
    }
    --transactionDepth_;
    return;
  }
  Exec("BEGIN IMMEDIATE");
  transactionDepth_ = 1;
  try {
    body();
    transactionDepth_ = 0;
    Exec("COMMIT");
  } catch (...) {
    transactionDepth_ = 0;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::int64_t Store::LastInsertId() {
  return sqlite3_last_insert_rowid(db_);
}

int Store::Changes() {
  return sqlite3_changes(db_);
}

std::optional<std::string> Store::GetMeta(const std::string& key) {
  auto st = Prepare("SELECT value FROM meta WHERE key=?");
  st.Bind(1, key);
  if (!st.Step())
    return std::nullopt;
  return st.Text(0);
}

void Store::SetMeta(const std::string& key, const std::string& value) {
  Prepare(
      "INSERT INTO meta(key,value) VALUES(?,?) ON CONFLICT(key) DO UPDATE SET value=excluded.value")
      .Bind(1, key)
      .Bind(2, value)
      .Run();
}

}  // namespace platform

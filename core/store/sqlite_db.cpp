#include "store/sqlite_db.h"

#include <sqlite3.h>

#include <limits>
#include <utility>

namespace qovra {
namespace {

constexpr int kBusyTimeoutMs = 2000;

int SqlLength(std::string_view sql) {
  return sql.size() > static_cast<size_t>(std::numeric_limits<int>::max())
             ? -1
             : static_cast<int>(sql.size());
}

}  // namespace

// --- SqliteDb ---------------------------------------------------------------------

bool SqliteDb::SetError(std::string_view context) {
  error_ = std::string(context);
  if (db_) {
    error_ += ": ";
    error_ += sqlite3_errmsg(db_);
  }
  return false;
}

bool SqliteDb::Open(const std::string& path, bool create) {
  Close();
  error_.clear();
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    error_ = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return false;
  }
  db_ = db;
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // Reading the schema proves that the file is a database.
  if (!Exec("SELECT count(*) FROM sqlite_master")) {
    const std::string why = error_;
    Close();
    error_ = "not a database: " + path + " (" + why + ")";
    return false;
  }
  return true;
}

void SqliteDb::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  savepoint_depth_ = 0;
}

bool SqliteDb::Exec(std::string_view sql) {
  if (!db_) return SetError("database not open");
  const std::string text(sql);
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    error_ = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    return false;
  }
  return true;
}

SqliteStatement SqliteDb::Prepare(std::string_view sql) {
  if (!db_) {
    SetError("database not open");
    return {};
  }
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), SqlLength(sql), &stmt, nullptr);
  if (rc != SQLITE_OK || stmt == nullptr) {
    SetError("cannot prepare \"" + std::string(sql) + "\"");
    sqlite3_finalize(stmt);
    return {};
  }
  return SqliteStatement(this, stmt);
}

int64_t SqliteDb::LastInsertRowId() const {
  return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

int64_t SqliteDb::Changes() const {
  return db_ ? sqlite3_changes64(db_) : 0;
}

// --- SqliteStatement -------------------------------------------------------------

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(stmt_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      stmt_(std::exchange(other.stmt_, nullptr)),
      bind_failed_(std::exchange(other.bind_failed_, false)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    db_ = std::exchange(other.db_, nullptr);
    stmt_ = std::exchange(other.stmt_, nullptr);
    bind_failed_ = std::exchange(other.bind_failed_, false);
  }
  return *this;
}

void SqliteStatement::CheckBind(int rc) {
  if (rc != SQLITE_OK) {
    bind_failed_ = true;
    if (db_) db_->SetError("cannot bind a value");
  }
}

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
  if (stmt_) CheckBind(sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  if (stmt_) {
    CheckBind(
        sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
  if (stmt_) CheckBind(sqlite3_bind_null(stmt_, index));
  return *this;
}

SqliteStatement::StepResult SqliteStatement::Step() {
  if (!stmt_ || bind_failed_) return StepResult::Error;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return StepResult::Row;
  if (rc == SQLITE_DONE) return StepResult::Done;
  db_->SetError("cannot run \"" + std::string(sqlite3_sql(stmt_)) + "\"");
  return StepResult::Error;
}

bool SqliteStatement::Run() {
  for (;;) {
    const StepResult r = Step();
    if (r == StepResult::Done) return true;
    if (r == StepResult::Error) return false;
  }
}

void SqliteStatement::Reset() {
  if (stmt_) sqlite3_reset(stmt_);
}

int SqliteStatement::ColumnCount() const {
  return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

int64_t SqliteStatement::ColumnInt(int column) const {
  return stmt_ ? sqlite3_column_int64(stmt_, column) : 0;
}

std::string SqliteStatement::ColumnText(int column) const {
  if (!stmt_) return {};
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  if (!text || size <= 0) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
}

bool SqliteStatement::ColumnIsNull(int column) const {
  return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

// --- SqliteTransaction -----------------------------------------------------------

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) {
  if (!db_.IsOpen()) {
    db_.SetError("database not open");
    return;
  }
  name_ = "qovra_tx" + std::to_string(db_.savepoint_depth_ + 1);
  if (db_.Exec("SAVEPOINT " + name_)) {
    active_ = true;
    ++db_.savepoint_depth_;
  }
}

SqliteTransaction::~SqliteTransaction() {
  if (active_) Rollback();
}

void SqliteTransaction::Rollback() {
  const std::string error = db_.error_;  // keep the error that made us roll back
  (void)db_.Exec("ROLLBACK TO " + name_);
  (void)db_.Exec("RELEASE " + name_);
  db_.error_ = error;
  active_ = false;
  if (db_.savepoint_depth_ > 0) --db_.savepoint_depth_;
}

bool SqliteTransaction::Commit() {
  if (!active_) return false;
  if (!db_.Exec("RELEASE " + name_)) {
    Rollback();
    return false;
  }
  active_ = false;
  if (db_.savepoint_depth_ > 0) --db_.savepoint_depth_;
  return true;
}

}  // namespace qovra

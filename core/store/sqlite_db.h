// A small SQLite wrapper: one connection, prepared statements with bound
// values, and transactions that roll back unless committed.
//
// No member throws. SQLite's errors are turned into false / an invalid
// statement at this edge, with the text kept in SqliteDb::LastError().
// Every value that a statement uses is bound; statement texts are fixed
// strings of the program. One thread only (the interface thread).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace qovra {

class SqliteStatement;

class SqliteDb {
 public:
  SqliteDb() = default;
  ~SqliteDb() { Close(); }
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Opens the database file at path (UTF-8), closing any open one first.
  // Without create the file must exist. Fails (and leaves the connection
  // closed) when the file cannot be opened or is not an SQLite database.
  [[nodiscard]] bool Open(const std::string& path, bool create = false);
  // Closes the connection; statements still alive must be gone before.
  void Close();
  bool IsOpen() const { return db_ != nullptr; }

  // Runs sql, which may hold several statements, none of them taking
  // values (schema scripts, pragmas).
  [[nodiscard]] bool Exec(std::string_view sql);
  // A prepared statement; Valid() is false on failure (also when closed).
  [[nodiscard]] SqliteStatement Prepare(std::string_view sql);

  // Row id of the last successful insert on this connection.
  int64_t LastInsertRowId() const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int64_t Changes() const;
  // The error of the last failed call, with SQLite's own text.
  const std::string& LastError() const { return error_; }

 private:
  friend class SqliteStatement;
  friend class SqliteTransaction;
  // Records SQLite's current error message under context; returns false.
  bool SetError(std::string_view context);

  sqlite3* db_ = nullptr;
  std::string error_;
  int savepoint_depth_ = 0;
};

// A prepared statement of one SqliteDb, which must outlive it. Values are
// bound by 1-based index; a failed bind makes the next Step fail.
class SqliteStatement {
 public:
  enum class StepResult { Row, Done, Error };

  SqliteStatement() = default;
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool Valid() const { return stmt_ != nullptr; }

  SqliteStatement& Bind(int index, int64_t value);
  // Text is bound as given (bytes, no conversion).
  SqliteStatement& Bind(int index, std::string_view text);
  SqliteStatement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  SqliteStatement& BindNull(int index);

  // The next result row, the end, or an error (kept in the database's
  // LastError()).
  [[nodiscard]] StepResult Step();
  // Steps to the end, ignoring rows. True when the statement completed.
  [[nodiscard]] bool Run();
  // Makes the statement ready to run again; bound values stay.
  void Reset();

  // Columns of the current row, 0-based. Text is returned as stored; an
  // integer read of text follows SQLite's conversion (0 when not a number).
  int ColumnCount() const;
  int64_t ColumnInt(int column) const;
  std::string ColumnText(int column) const;
  bool ColumnIsNull(int column) const;

 private:
  friend class SqliteDb;
  SqliteStatement(SqliteDb* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  void CheckBind(int rc);

  SqliteDb* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  bool bind_failed_ = false;
};

// A transaction (a savepoint, so transactions nest) that rolls back when it
// goes out of scope without Commit. Active() is false when it could not
// begin; then Commit fails and nothing is rolled back.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  bool Active() const { return active_; }
  // Makes the work permanent (for a nested one: part of the outer one).
  // False when it was not active or the commit failed; the transaction is
  // then rolled back.
  [[nodiscard]] bool Commit();

 private:
  void Rollback();

  SqliteDb& db_;
  std::string name_;
  bool active_ = false;
};

}  // namespace qovra

#include "write_failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "body_range.h"

namespace exchange {

namespace {

thread_local NoSpaceWatch* current_watch = nullptr;

}  // namespace

NoSpaceWatch::NoSpaceWatch() : outer_(current_watch) {
  current_watch = this;
}

NoSpaceWatch::~NoSpaceWatch() {
  current_watch = outer_;
}

void MarkNoSpace() {
  if (current_watch) current_watch->full_ = true;
}

bool ReportWriteFailure(const std::string& what, int error) {
  std::fprintf(stderr, "exchange-server: %s: %s\n", what.c_str(), std::strerror(error));
  if (!NoSpaceError(error)) return false;
  MarkNoSpace();
  return true;
}

bool ReportDatabaseFailure(sqlite3* db, const std::string& what) {
  const int code = sqlite3_extended_errcode(db);
  const int system_error = sqlite3_system_errno(db);
  // SQLite reports a short write as SQLITE_FULL without keeping its errno.
  const bool full = code == SQLITE_FULL || NoSpaceError(system_error);
  if (!full) {
    std::fprintf(stderr, "exchange-server: %s: database: %s\n", what.c_str(), sqlite3_errmsg(db));
    return false;
  }
  const int error = NoSpaceError(system_error) ? system_error : ENOSPC;
  std::fprintf(stderr, "exchange-server: %s: database: %s (%s)\n", what.c_str(),
               std::strerror(error), sqlite3_errmsg(db));
  MarkNoSpace();
  return true;
}

bool StepWrite(sqlite3_stmt* stmt, const std::string& what) {
  if (sqlite3_step(stmt) == SQLITE_DONE) return true;
  ReportDatabaseFailure(sqlite3_db_handle(stmt), what);
  return false;
}

}  // namespace exchange

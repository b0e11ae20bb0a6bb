// Writes the server could not make, and the disk being full.
//
// Every store reports a failed write (a file, or a database change) here:
// the cause goes to the log (stderr). A command runs inside a NoSpaceWatch
// (commands.cpp); a failure for want of space marks the watch of the thread
// that ran into it, and the command is then answered with code 19 whatever
// it would have answered, so no command needs a case of its own.
#pragma once

#include <sqlite3.h>

#include <string>

namespace exchange {

// Notes, for the thread that makes it, whether a write failed for want of
// space while it lives. Watches nest: the innermost one is marked.
class NoSpaceWatch {
 public:
  NoSpaceWatch();
  ~NoSpaceWatch();
  NoSpaceWatch(const NoSpaceWatch&) = delete;
  NoSpaceWatch& operator=(const NoSpaceWatch&) = delete;

  // True once a write failed because the disk (or the database) is full.
  bool full() const { return full_; }

 private:
  friend void MarkNoSpace();
  bool full_ = false;
  NoSpaceWatch* outer_ = nullptr;
};

// Marks the calling thread's watch, when it has one.
void MarkNoSpace();

// Logs "exchange-server: <what>: <strerror(error)>" for a write that failed
// with errno error, and marks the thread's watch when error means the disk
// is full. Returns whether it does.
bool ReportWriteFailure(const std::string& what, int error);

// The same for the last failed call on db: the disk being full shows as
// SQLITE_FULL or as an I/O error whose system errno means it. Returns
// whether the disk is full.
bool ReportDatabaseFailure(sqlite3* db, const std::string& what);

// Runs the write statement stmt to its end; on failure reports it as
// ReportDatabaseFailure does. True when it ran.
[[nodiscard]] bool StepWrite(sqlite3_stmt* stmt, const std::string& what);

}  // namespace exchange

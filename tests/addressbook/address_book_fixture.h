// An address book on a real SQLite file for one test: a copy of the
// shipped template (or the old-format script), the window seam answered by
// a FakeUi, and the module's globals and message table reset around it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/messages.h"
#include "qovra/addressbook/address_book.h"
#include "seam/fake_ui.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace qovra::testing {

// Saves and restores the address book's process-wide values.
class ScopedAddressBookGlobals {
 public:
  ScopedAddressBookGlobals() { Reset(); }
  ~ScopedAddressBookGlobals() {
    Reset();
    ClearMsgTable();
  }
  static void Reset() {
    DupChoice = 0;
    ImportCancelled = false;
    ImportChanged = false;
  }
};

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class AddressBookTest : public ::testing::Test {
 protected:
  // A copy of the template eca.edb beside the program.
  bool OpenTemplate() {
    const std::string path = dir_.File("eca.edb");
    std::error_code ec;
    std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/eca.edb", path, ec);
    return !ec && db_.Open(path);
  }
  // A new book made from the old-format script.
  bool OpenOldBook() {
    const std::string script = ReadTextFile(std::string(QOVRA_ADDRBOOK_FIXTURES) + "/eca_old.sql");
    return !script.empty() && db_.Open(dir_.File("old.edb"), /*create=*/true) && db_.Exec(script);
  }

  // One integer / text result of sql (no values).
  int64_t Int(const std::string& sql) {
    SqliteStatement q = db_.Prepare(sql);
    EXPECT_TRUE(q.Valid()) << sql << ": " << db_.LastError();
    if (!q.Valid() || q.Step() != SqliteStatement::StepResult::Row) return -999;
    return q.ColumnInt(0);
  }
  std::string Text(const std::string& sql) {
    SqliteStatement q = db_.Prepare(sql);
    if (!q.Valid() || q.Step() != SqliteStatement::StepResult::Row) return "<none>";
    return q.ColumnText(0);
  }
  // Every row of sql as "a|b|c" lines.
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    SqliteStatement q = db_.Prepare(sql);
    EXPECT_TRUE(q.Valid()) << sql << ": " << db_.LastError();
    while (q.Valid() && q.Step() == SqliteStatement::StepResult::Row) {
      std::string row;
      for (int i = 0; i < q.ColumnCount(); ++i) row += (i ? "|" : "") + q.ColumnText(i);
      rows.push_back(row);
    }
    return rows;
  }

  ScratchDir dir_;
  ScopedFakeUi ui_;
  ScopedAddressBookGlobals globals_;
  SqliteDb db_;
};

}  // namespace qovra::testing

#include "store/mail_db_upgrade.h"

#include <string_view>

namespace qovra {
namespace {

struct ColumnStep {
  std::string_view table;
  std::string_view column;
  std::string_view add;  // the statement adding it
};

constexpr ColumnStep kSteps[] = {
    {"ecm_recipients", "send_flag",
     "ALTER TABLE ecm_recipients ADD COLUMN [send_flag] INTEGER DEFAULT 0"},
    {"ecm_mails", "mail_size", "ALTER TABLE ecm_mails ADD COLUMN [mail_size] INTEGER DEFAULT 0"},
    {"ecm_mails", "fau_data", "ALTER TABLE ecm_mails ADD COLUMN [fau_data] VARCHAR(128)"},
};

enum class Probe { Present, Absent, NoTable, Failed };

// SQLite compares column names without regard to ASCII case.
bool SameAsciiName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Whether table has column, from the table's own column list (a text
// search of its definition would also match a column name inside another
// name or a default value).
Probe HasColumn(SqliteDb& db, std::string_view table, std::string_view column) {
  SqliteStatement exists =
      db.Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND tbl_name = ?1");
  if (!exists.Valid()) return Probe::Failed;
  exists.Bind(1, table);
  switch (exists.Step()) {
    case SqliteStatement::StepResult::Row:
      break;
    case SqliteStatement::StepResult::Done:
      return Probe::NoTable;
    case SqliteStatement::StepResult::Error:
      return Probe::Failed;
  }
  SqliteStatement columns = db.Prepare("SELECT name FROM pragma_table_info(?1)");
  if (!columns.Valid()) return Probe::Failed;
  columns.Bind(1, table);
  for (;;) {
    switch (columns.Step()) {
      case SqliteStatement::StepResult::Row:
        if (SameAsciiName(columns.ColumnText(0), column)) return Probe::Present;
        break;
      case SqliteStatement::StepResult::Done:
        return Probe::Absent;
      case SqliteStatement::StepResult::Error:
        return Probe::Failed;
    }
  }
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

bool UpgradeMailSchema(SqliteDb& db, std::string* error) {
  if (!db.IsOpen()) return Fail(error, "the mail database is not open");
  for (const ColumnStep& step : kSteps) {
    switch (HasColumn(db, step.table, step.column)) {
      case Probe::Present:
        continue;
      case Probe::NoTable:
        return Fail(error, "the mail database has no table " + std::string(step.table));
      case Probe::Failed:
        return Fail(error, db.LastError());
      case Probe::Absent:
        if (!db.Exec(step.add)) return Fail(error, db.LastError());
        break;
    }
  }
  return true;
}

}  // namespace qovra

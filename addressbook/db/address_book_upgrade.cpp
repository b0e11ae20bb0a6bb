// The repair of old address books.
#include <set>
#include <utility>
#include <vector>

#include "qovra/addressbook/address_book_db.h"

namespace qovra {

namespace {

constexpr std::string_view kParentColumn = "[parent_id] INTEGER DEFAULT 0";

bool HasLinkIndex(SqliteDb& db, bool& present) {
  SqliteStatement q = db.Prepare(
      "SELECT sql FROM sqlite_master WHERE tbl_name='eca_group_contacts' AND type='index' "
      "AND sql LIKE '%igroup_id_contact_id%'");
  if (!q.Valid()) return false;
  const SqliteStatement::StepResult r = q.Step();
  present = r == SqliteStatement::StepResult::Row;
  return r != SqliteStatement::StepResult::Error;
}

// Links reduced to distinct pairs (first-met order) and the unique index,
// all or nothing.
bool RepairLinks(SqliteDb& db) {
  SqliteTransaction t(db);
  if (!t.Active()) return false;
  std::vector<std::pair<int64_t, int64_t>> pairs;
  std::set<std::pair<int64_t, int64_t>> seen;
  {
    SqliteStatement q = db.Prepare("SELECT group_id,contact_id FROM eca_group_contacts");
    if (!q.Valid()) return false;
    SqliteStatement::StepResult r;
    while ((r = q.Step()) == SqliteStatement::StepResult::Row) {
      const std::pair<int64_t, int64_t> link{q.ColumnInt(0), q.ColumnInt(1)};
      if (seen.insert(link).second) pairs.push_back(link);
    }
    if (r == SqliteStatement::StepResult::Error) return false;
  }
  if (!pairs.empty()) {
    if (!db.Exec("DELETE FROM eca_group_contacts")) return false;
    SqliteStatement ins =
        db.Prepare("INSERT OR IGNORE INTO eca_group_contacts (group_id,contact_id) VALUES (?,?)");
    if (!ins.Valid()) return false;
    for (const auto& [group, contact] : pairs) {
      ins.Reset();
      if (!ins.Bind(1, group).Bind(2, contact).Run()) return false;
    }
  }
  if (!db.Exec("CREATE UNIQUE INDEX IF NOT EXISTS igroup_id_contact_id "
               "on eca_group_contacts (group_id,contact_id)")) {
    return false;
  }
  return t.Commit();
}

void AddParentColumn(SqliteDb& db) {
  SqliteStatement q =
      db.Prepare("SELECT sql FROM sqlite_master WHERE tbl_name='eca_groups' AND type='table'");
  if (!q.Valid() || q.Step() != SqliteStatement::StepResult::Row) return;
  if (q.ColumnText(0).find(kParentColumn) != std::string::npos) return;
  q = SqliteStatement();
  // An error here (a column of that name under another definition) is
  // ignored, as the rest of the book works without it.
  (void)db.Exec("ALTER TABLE eca_groups ADD COLUMN " + std::string(kParentColumn));
}

}  // namespace

bool UpgradeContactsSchema(SqliteDb& db) {
  if (!db.IsOpen()) return false;
  bool indexed = false;
  if (!HasLinkIndex(db, indexed)) return false;
  if (!indexed && !RepairLinks(db)) return false;
  AddParentColumn(db);
  // Look-up indexes for ContactEmailExists, the root's unlinked contacts
  // and a group's subgroups (also by name); the template has them under
  // these names.
  (void)db.Exec("CREATE INDEX IF NOT EXISTS ieca_contacts_email ON eca_contacts (email)");
  (void)db.Exec(
      "CREATE INDEX IF NOT EXISTS ieca_group_contacts_contact ON eca_group_contacts (contact_id)");
  (void)db.Exec("CREATE INDEX IF NOT EXISTS ieca_groups_parent ON eca_groups (parent_id,name)");
  return true;
}

}  // namespace qovra

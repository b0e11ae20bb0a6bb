// Deleting contacts and groups.
#include <unordered_set>
#include <vector>

#include "qovra/addressbook/address_book_db.h"

namespace qovra {

namespace {

bool DeleteContactRows(SqliteDb& db, int32_t id) {
  SqliteStatement contact = db.Prepare("DELETE FROM eca_contacts WHERE id=?");
  SqliteStatement links = db.Prepare("DELETE FROM eca_group_contacts WHERE contact_id=?");
  return contact.Valid() && links.Valid() && contact.Bind(1, int64_t{id}).Run() &&
         links.Bind(1, int64_t{id}).Run();
}

// The first column of every row of q (already bound).
bool ReadIds(SqliteStatement& q, std::vector<int32_t>& ids) {
  for (;;) {
    switch (q.Step()) {
      case SqliteStatement::StepResult::Row:
        ids.push_back(static_cast<int32_t>(q.ColumnInt(0)));
        break;
      case SqliteStatement::StepResult::Done:
        return true;
      case SqliteStatement::StepResult::Error:
        return false;
    }
  }
}

}  // namespace

bool DeleteContact(SqliteDb& db, int32_t id) {
  if (!db.IsOpen()) return false;
  SqliteTransaction t(db);
  return t.Active() && DeleteContactRows(db, id) && t.Commit();
}

bool DeleteGroup(SqliteDb& db, int32_t id) {
  if (!db.IsOpen()) return false;
  SqliteTransaction t(db);
  SqliteStatement del_group = db.Prepare("DELETE FROM eca_groups WHERE id=?");
  SqliteStatement members =
      db.Prepare("SELECT contact_id FROM eca_group_contacts WHERE group_id=?");
  SqliteStatement children = db.Prepare("SELECT id FROM eca_groups WHERE parent_id=?");
  if (!t.Active() || !del_group.Valid() || !members.Valid() || !children.Valid()) return false;

  // Depth first over an explicit stack; every group is entered once.
  std::vector<int32_t> stack{id};
  std::unordered_set<int32_t> seen{id};
  std::vector<int32_t> ids;
  while (!stack.empty()) {
    const int32_t group = stack.back();
    stack.pop_back();
    if (group != 0) {
      del_group.Reset();
      if (!del_group.Bind(1, int64_t{group}).Run()) return false;
    }
    ids.clear();
    members.Reset();
    if (!ReadIds(members.Bind(1, int64_t{group}), ids)) return false;
    for (int32_t contact : ids) {
      if (!DeleteContactRows(db, contact)) return false;
    }
    ids.clear();
    children.Reset();
    if (!ReadIds(children.Bind(1, int64_t{group}), ids)) return false;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
      if (seen.insert(*it).second) stack.push_back(*it);
    }
  }
  return t.Commit();
}

}  // namespace qovra

#include "qovra/addressbook/contact_tree.h"

#include <string>
#include <unordered_set>

#include "address_book_rows.h"
#include "base/messages.h"
#include "base/utf.h"

namespace qovra {

using addrbook_detail::kContactSelect;
using addrbook_detail::ReadContactRow;

TContactNode* TContactTree::AddNode(TContactNode& parent, const TContact& record, bool is_group) {
  auto node = std::make_unique<TContactNode>();
  node->Record = record;
  node->IsGroup = is_group;
  node->Parent = &parent;
  node->Row = static_cast<int>(parent.Children.size());
  parent.Children.push_back(std::move(node));
  return parent.Children.back().get();
}

TContactNode* TContactTree::First() {
  return top_.Children.empty() ? nullptr : top_.Children.front().get();
}

TContactNode* TContactTree::Next(TContactNode* node) {
  if (!node) return nullptr;
  if (!node->Children.empty()) return node->Children.front().get();
  while (node->Parent) {
    TContactNode* parent = node->Parent;
    const size_t next = static_cast<size_t>(node->Row) + 1;
    if (next < parent->Children.size()) return parent->Children[next].get();
    node = parent;
  }
  return nullptr;
}

TContactNode* AddAllGroupNode(TContactTree& tree) {
  TContact root;
  root.Id = 0;
  root.FirstName = Utf8ToUtf16(GetMsg("msgAll"));
  root.IsContact = false;
  return tree.AddNode(tree.Top(), root, /*is_group=*/true);
}

namespace {

bool AddContactRows(SqliteStatement& q, TContactTree& tree, TContactNode& node) {
  SqliteStatement::StepResult r;
  while ((r = q.Step()) == SqliteStatement::StepResult::Row) {
    tree.AddNode(node, ReadContactRow(q), /*is_group=*/false);
  }
  return r == SqliteStatement::StepResult::Done;
}

std::string ContactsOfGroupSql(int32_t group_id) {
  std::string sql = std::string(kContactSelect) + "WHERE (g.group_id=?)";
  if (group_id == 0) {
    sql += " OR (c.id NOT IN (SELECT contact_id FROM eca_group_contacts))";
  }
  return sql;
}

}  // namespace

bool LoadGroupContacts(SqliteDb& db, TContactTree& tree, int32_t group_id, TContactNode& node) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare(ContactsOfGroupSql(group_id));
  if (!q.Valid()) return false;
  q.Bind(1, int64_t{group_id});
  return AddContactRows(q, tree, node);
}

bool LoadGroupNode(SqliteDb& db, TContactTree& tree, TContactNode& node) {
  TContactTree::DeleteChildren(node);
  if (!db.IsOpen()) return false;
  SqliteStatement groups =
      db.Prepare("SELECT id,name FROM eca_groups WHERE parent_id=? ORDER BY id");
  SqliteStatement contacts = db.Prepare(ContactsOfGroupSql(-1));
  if (!groups.Valid() || !contacts.Valid()) return false;
  // The groups' contacts lie spread over the table: a page cache that
  // holds a large book (16 MiB) keeps each page read once, and one read
  // transaction keeps one lock for every query.
  (void)db.Exec("PRAGMA cache_size=-16384");
  SqliteTransaction read(db);

  std::vector<TContactNode*> pending{&node};
  std::unordered_set<int32_t> entered{node.Record.Id};
  bool ok = true;
  while (!pending.empty()) {
    TContactNode* group = pending.back();
    pending.pop_back();
    const int32_t id = group->Record.Id;
    groups.Reset();
    groups.Bind(1, int64_t{id});
    SqliteStatement::StepResult r;
    while ((r = groups.Step()) == SqliteStatement::StepResult::Row) {
      TContact sub;
      sub.Id = static_cast<int32_t>(groups.ColumnInt(0));
      sub.FirstName = Utf8ToUtf16(groups.ColumnText(1));
      sub.CompanyId = id;
      sub.IsContact = false;
      if (!entered.insert(sub.Id).second) continue;
      TContactNode* child = tree.AddNode(*group, sub, /*is_group=*/true);
      pending.push_back(child);
    }
    ok = ok && r == SqliteStatement::StepResult::Done;
    if (id == 0) {
      ok = LoadGroupContacts(db, tree, 0, *group) && ok;
    } else {
      contacts.Reset();
      contacts.Bind(1, int64_t{id});
      ok = AddContactRows(contacts, tree, *group) && ok;
    }
  }
  return read.Commit() && ok;
}

}  // namespace qovra

// TfrmAddrBook: new rows, removing rows and deleting the selection.
#include <QTreeView>
#include <unordered_set>
#include <vector>

#include "addr_book_detail.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/ui/progress.h"
#include "seam/ui_seam.h"

using qovra::TContact;
using qovra::TContactNode;
using qovra::addressbook::detail::IsRoot;
using qovra::addressbook::detail::Msg;

void TfrmAddrBook::AddRowAndEdit(bool is_group) {
  TContactNode* group = CurrentGroup();
  if (!group) return;
  TContact record;
  record.Id = -1;
  record.CompanyId = is_group ? group->Record.Id : 0;
  record.JobTitleId = 0;
  record.IsContact = !is_group;
  TContactNode* node = model_->AddRow(group, record, is_group);
  vstAddrBook->expand(model_->IndexOf(group));
  FocusRow(node, 0);
  EditNode(node, 0);
}

void TfrmAddrBook::acContactNewExecute() {
  AddRowAndEdit(/*is_group=*/false);
}

void TfrmAddrBook::acContactsNewGroupExecute() {
  AddRowAndEdit(/*is_group=*/true);
}

void TfrmAddrBook::acContactEditExecute() {
  TContactNode* node = FocusedNode();
  if (!node) node = FirstSelected();
  EditNode(node, std::max(0, vstAddrBook->currentIndex().column()));
}

void TfrmAddrBook::RemoveRow(TContactNode* node, int column) {
  TContactNode* before = node->Row > 0
                             ? node->Parent->Children[static_cast<size_t>(node->Row) - 1].get()
                             : (node->Parent->Parent ? node->Parent : nullptr);
  model_->RemoveRow(node);
  if (before) FocusRow(before, column);
}

std::vector<TContactNode*> TfrmAddrBook::ContactRows(int32_t id) const {
  std::vector<TContactNode*> rows;
  for (TContactNode* n = model_->Tree().First(); n; n = qovra::TContactTree::Next(n))
    if (!n->IsGroup && n->Record.Id == id) rows.push_back(n);
  return rows;
}

void TfrmAddrBook::RemoveContactRows(int32_t id) {
  const std::vector<TContactNode*> rows = ContactRows(id);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) model_->RemoveRow(*it);
}

// Deletes each selected row from the book, all or nothing: a contact
// everywhere it is linked, a group with its subgroups and their contacts.
// The root's contacts in no group stay unless selected themselves.
void TfrmAddrBook::acContactDeleteExecute() {
  const QModelIndexList rows = vstAddrBook->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  if (!qovra::AskYesNo(this,
                       rows.size() == 1 ? "msgConfirmDeleteContact" : "msgConfirmDeleteContacts"))
    return;
  if (!db_.IsOpen()) return;
  std::vector<TContactNode*> nodes;
  for (const QModelIndex& i : rows) nodes.push_back(model_->NodeOf(i));
  bool deleted = true;
  {
    qovra::ui::ShowProgress(this, true, Msg("msgDeleting"), Msg("msgContacts"));
    void* bar = frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
    qovra::SqliteTransaction t(db_);
    deleted = t.Active();
    const auto total = static_cast<int64_t>(nodes.size());
    for (size_t i = 0; i < nodes.size() && deleted; ++i) {
      const TContactNode* node = nodes[i];
      deleted = node->IsGroup ? qovra::DeleteGroup(db_, node->Record.Id)
                              : qovra::DeleteContact(db_, node->Record.Id);
      qovra::ProgressCallback(bar, total, static_cast<int64_t>(i));
    }
    deleted = deleted && t.Commit();
    qovra::ui::HideProgress(this, false);
  }
  if (!deleted) {
    // Rolled back: the tree still shows the book.
    ShowDatabaseError();
    return;
  }
  if (std::any_of(nodes.begin(), nodes.end(), IsRoot)) {
    // The root keeps the contacts that were in no group: reload it.
    if (!ReloadAll()) ShowDatabaseError();
    return;
  }
  // Every contact below a deleted group went from the whole book; a row
  // below another selected group goes with that group.
  std::unordered_set<const TContactNode*> selected(nodes.begin(), nodes.end());
  std::unordered_set<int32_t> contacts;
  std::vector<TContactNode*> groups;
  for (TContactNode* node : nodes) {
    bool covered = false;
    for (const TContactNode* p = node->Parent; p && !covered; p = p->Parent)
      covered = selected.count(p) != 0;
    if (!node->IsGroup) {
      contacts.insert(node->Record.Id);
      continue;
    }
    if (!covered) groups.push_back(node);
    std::vector<const TContactNode*> pending{node};
    while (!pending.empty()) {
      const TContactNode* g = pending.back();
      pending.pop_back();
      for (const auto& child : g->Children) {
        if (child->IsGroup) {
          pending.push_back(child.get());
        } else {
          contacts.insert(child->Record.Id);
        }
      }
    }
  }
  for (auto it = groups.rbegin(); it != groups.rend(); ++it) model_->RemoveRow(*it);
  for (int32_t id : contacts) RemoveContactRows(id);
  const QModelIndex top = vstAddrBook->indexAt(QPoint(1, 1));
  FocusRow(top.isValid() ? model_->NodeOf(top) : model_->Tree().First(), 0);
}

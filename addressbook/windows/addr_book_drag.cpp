// TfrmAddrBook: dropping the focused row onto a group.
#include <QTreeView>

#include "addr_book_detail.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"

using qovra::TContactNode;
using qovra::addressbook::detail::IsRoot;
using qovra::addressbook::detail::ParentGroupId;

bool TfrmAddrBook::CanDrop(const TContactNode* target) const {
  const TContactNode* dragged = FocusedNode();
  if (!dragged || IsRoot(dragged) || !target || !target->IsGroup) return false;
  if (target == dragged->Parent) return false;
  for (const TContactNode* n = target; n; n = n->Parent)
    if (n == dragged) return false;
  return true;
}

void TfrmAddrBook::DragDrop(TContactNode* target) {
  TContactNode* dragged = FocusedNode();
  if (!CanDrop(target) || !db_.IsOpen()) return;
  if (!dragged->IsGroup) {
    int32_t existing = 0;
    const int r = qovra::MoveContactToGroup(db_, ParentGroupId(dragged), target->Record.Id,
                                            dragged->Record, &existing);
    if (r == qovra::kAbDbError) {
      ShowDatabaseError();
      return;
    }
    if (r == qovra::kAbReplaced || r == qovra::kAbReplacedAll) {
      // The duplicate is gone from the whole book.
      if (existing != dragged->Record.Id) RemoveContactRows(existing);
    } else if (r != qovra::kAbStored) {
      return;
    }
    // A contact already linked to the target only leaves the source.
    if (TContactNode* there = FindChildById(dragged->Record.Id, target)) {
      RemoveRow(dragged, 0);
      FocusRow(there, 0);
      return;
    }
  } else {
    if (!qovra::MoveGroup(db_, dragged->Record.Id, target->Record.Id)) {
      ShowDatabaseError();
      return;
    }
    dragged->Record.CompanyId = target->Record.Id;
  }
  model_->MoveRow(dragged, target);
  vstAddrBook->expand(model_->IndexOf(target));
  model_->Resort();
  FocusRow(dragged, 0);
}

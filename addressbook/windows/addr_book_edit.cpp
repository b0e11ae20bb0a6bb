// TfrmAddrBook: editing a row in the contact or group dialog laid over it.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <algorithm>

#include "addr_book_detail.h"
#include "addr_book_tree.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_dialogs.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/png_resources.h"

using qovra::TContact;
using qovra::TContactNode;
using qovra::addressbook::TAddrBookModel;
using qovra::addressbook::detail::IsRoot;
using qovra::addressbook::detail::kColumns;
using qovra::addressbook::detail::Msg;
using qovra::addressbook::detail::ParentGroupId;

namespace {

// The trimmed text split at blanks: last name, first name, the rest.
void ParseFullName(const QString& text, TContact& c) {
  const QString t = text.trimmed();
  const int a = t.indexOf(QLatin1Char(' '));
  if (a < 0) {
    c.LastName = t.toStdU16String();
    return;
  }
  c.LastName = t.left(a).toStdU16String();
  const QString rest = t.mid(a + 1).trimmed();
  const int b = rest.indexOf(QLatin1Char(' '));
  if (b < 0) {
    c.FirstName = rest.toStdU16String();
    return;
  }
  c.FirstName = rest.left(b).toStdU16String();
  c.MiddleName = rest.mid(b + 1).trimmed().toStdU16String();
}

}  // namespace

void TfrmAddrBook::EditNode(TContactNode* node, int column) {
  if (!node || IsRoot(node)) return;
  if (node->IsGroup) {
    EditGroup(node);
  } else {
    EditContact(node, column);
  }
}

void TfrmAddrBook::LayDialogOverRow(QDialog& dialog, const TContactNode* node, int columns) {
  auto* tree = static_cast<qovra::addressbook::TAddrBookTree*>(vstAddrBook);
  tree->scrollTo(model_->IndexOf(node));
  QRect icon;
  std::array<QRect, kColumns> cells;
  for (int c = 0; c < columns; ++c) {
    QRect cell_icon;
    tree->CellParts(model_->IndexOf(node, c), cell_icon, cells[static_cast<size_t>(c)]);
    if (c == 0) icon = cell_icon;
  }
  const QColor colour = vstAddrBook->palette().color(QPalette::Inactive, QPalette::Highlight);
  if (auto* contact = qobject_cast<TfrmNewAddr*>(&dialog)) {
    contact->LayOverRow(icon, cells, colour);
  } else if (auto* group = qobject_cast<TfrmNewGroup*>(&dialog)) {
    group->LayOverRow(icon, cells[0], colour);
  }
}

void TfrmAddrBook::EditContact(TContactNode* node, int column) {
  TfrmNewAddr dialog(db_, this);
  const int32_t parent_id = ParentGroupId(node);
  dialog.setWindowTitle(node->Record.Id <= 0 ? acContactNew->text().remove(QLatin1Char('&'))
                                             : Msg("msgEditContact"));
  dialog.imgAddr->setPixmap(images16_->Pixmap(0));
  dialog.eName->setText(TAddrBookModel::CellText(*node, 0));
  dialog.eEmail->setText(TAddrBookModel::CellText(*node, 1));
  dialog.cbCompany->setEditText(TAddrBookModel::CellText(*node, 2));
  dialog.cbJobtitle->setEditText(TAddrBookModel::CellText(*node, 3));
  LayDialogOverRow(dialog, node, kColumns);
  QWidget* fields[kColumns] = {dialog.eName, dialog.eEmail, dialog.cbCompany, dialog.cbJobtitle};
  fields[std::clamp(column, 0, kColumns - 1)]->setFocus();
  const bool is_new = node->Record.Id == -1;
  const int result = RunDialog(dialog);
  if (result != 1) {
    if (is_new) RemoveRow(node, 0);
    return;
  }
  const QString texts[kColumns] = {dialog.eName->text(), dialog.eEmail->text(),
                                   dialog.cbCompany->currentText(),
                                   dialog.cbJobtitle->currentText()};
  if (is_new && std::all_of(std::begin(texts), std::end(texts),
                            [](const QString& t) { return t.trimmed().isEmpty(); })) {
    RemoveRow(node, 0);
    return;
  }
  TContact record;
  ParseFullName(texts[0], record);
  record.Email = texts[1].toStdString();
  record.Company = texts[2].toStdU16String();
  record.JobTitle = texts[3].toStdU16String();
  record.CompanyId = -1;
  record.JobTitleId = -1;
  record.Id = node->Record.Id;
  record.IsContact = true;
  if (!db_.IsOpen()) return;
  int32_t earlier_id = -1;
  const int r = qovra::SaveContact(db_, record, parent_id, node->Record.Email, &earlier_id);
  if (r == qovra::kAbDbError) {
    // Nothing was stored: a new row goes, a stored one keeps its values.
    if (is_new) RemoveRow(node, 0);
    ShowDatabaseError();
    return;
  }
  if (r == qovra::kAbRefused || r == qovra::kAbSkipped || r == qovra::kAbSkippedAll) {
    if (is_new) RemoveRow(node, column);
    return;
  }
  if (r == qovra::kAbReplaced || r == qovra::kAbReplacedAll) {
    // The duplicate's row in this group now is the edited row; its rows in
    // other groups stay and show the new values. The edited contact's own
    // earlier record stays in the book as it was, so it keeps a row here.
    TContactNode* parent = node->Parent;
    for (auto& child : parent->Children) {
      if (child.get() != node && !child->IsGroup && child->Record.Id == record.Id) {
        model_->RemoveRow(child.get());
        break;
      }
    }
    if (earlier_id > 0) (void)model_->AddRow(parent, node->Record, /*is_group=*/false);
  }
  // Every row of this contact shows the stored record.
  node->Record = record;
  for (TContactNode* n : ContactRows(record.Id)) {
    n->Record = record;
    model_->RowChanged(n);
  }
  model_->Resort();
  FocusRow(node, column);
}

void TfrmAddrBook::EditGroup(TContactNode* node) {
  TfrmNewGroup dialog(this);
  dialog.setWindowTitle(node->Record.Id <= 0 ? acContactsNewGroup->text().remove(QLatin1Char('&'))
                                             : Msg("msgEditGroup"));
  dialog.imgAddr->setPixmap(images16_->Pixmap(1));
  dialog.eName->setText(TAddrBookModel::CellText(*node, 0));
  LayDialogOverRow(dialog, node, 1);
  const bool is_new = node->Record.Id == -1;
  const int result = RunDialog(dialog);
  if (result != 1) {
    if (is_new) RemoveRow(node, 0);
    return;
  }
  const QString name = dialog.eName->text();
  if (is_new && name.trimmed().isEmpty()) {
    RemoveRow(node, 0);
    return;
  }
  if (!is_new && name.toStdU16String() == node->Record.FirstName) return;
  if (!db_.IsOpen()) return;
  TContact record;
  record.Id = node->Record.Id;
  record.FirstName = name.toStdU16String();
  record.CompanyId = ParentGroupId(node);
  record.IsContact = false;
  const int r = qovra::SaveGroup(db_, record, qovra::kAbRefused);
  if (r != qovra::kAbStored) {
    if (is_new) RemoveRow(node, 0);
    if (r == qovra::kAbDbError) ShowDatabaseError();
    return;
  }
  node->Record = record;
  model_->RowChanged(node);
  model_->Resort();
  FocusRow(node, 0);
}

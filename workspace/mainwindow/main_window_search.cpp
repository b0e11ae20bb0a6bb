// TfrmMain: the search line over the mail list.
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>

#include "qovra/controls/search_edit_frame.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/main_window.h"

void TfrmMain::eSearchChange() {
  const QString needle = frameSearchEdit1->eSearch()->text().toLower();
  int from = 0;
  if (search_again_ && last_found_id_ != 0) {
    const int last = model->RowOfId(last_found_id_);
    if (last >= 0) from = last + 1;
  }
  const int hit = model->FindNext(needle, from);
  if (hit < 0) return;
  const QModelIndex index = model->index(hit, qovra::ui::TMailListModel::kColAddress);
  lvMain->selectionModel()->clearSelection();
  lvMain->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  lvMain->scrollTo(index);
  last_found_id_ = model->Row(hit).Id;
}

void TfrmMain::eSearchTextChanged() {
  // A changed text searches from the top again.
  last_found_id_ = model->Count() > 0 ? model->Row(0).Id : 0;
  search_again_ = false;
  eSearchChange();
}

void TfrmMain::SearchNext() {
  if (frameSearchEdit1->eSearch()->text().isEmpty()) return;
  search_again_ = true;
  eSearchChange();
}

bool TfrmMain::IsPlainKey(const QKeyEvent& event) {
  return (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
}

bool TfrmMain::eSearchKeyPress(const QKeyEvent& event) {
  const int key = event.key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && IsPlainKey(event)) {
    SearchNext();
    return true;
  }
  if (key == Qt::Key_Escape) {
    if (!frameSearchEdit1->eSearch()->text().isEmpty()) return false;  // the frame empties it
    alMain->acToolsFind->setChecked(false);
    acToolsFindExecute(false);
    return true;
  }
  // Other keys go to the edit; those that change the text start the search
  // over (eSearchTextChanged).
  return false;
}

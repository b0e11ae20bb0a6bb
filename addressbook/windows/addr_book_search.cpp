// TfrmAddrBook: the search line, its keys and the rows' search keys.
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>
#include <vector>

#include "addr_book_detail.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/controls/search_edit_frame.h"

using qovra::TContactNode;
using qovra::addressbook::TAddrBookModel;

void TfrmAddrBook::ConnectSearchKeys() {
  // The search keys follow the model; the last hit never outlives a
  // removal or a reload.
  const auto rows = [this](const QModelIndex& under, int first, int last, bool adding) {
    for (int r = first; r <= last; ++r)
      KeySubtree(model_->NodeOf(model_->index(r, 0, under)), adding);
  };
  connect(model_, &QAbstractItemModel::rowsInserted, this,
          [rows](const QModelIndex& p, int first, int last) { rows(p, first, last, true); });
  connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this, rows](const QModelIndex& p, int first, int last) {
            last_hit_ = QPersistentModelIndex();
            rows(p, first, last, false);
          });
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [rows](const QModelIndex& from, const QModelIndex& to) {
            rows(from.parent(), from.row(), to.row(), true);
          });
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
    last_hit_ = QPersistentModelIndex();
    search_keys_.clear();
  });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    for (const auto& top : model_->Tree().Top().Children) KeySubtree(top.get(), true);
  });
  connect(frameSearchEdit1->eSearch(), &QLineEdit::textChanged, this,
          [this] { Search(find_next_); });
}

void TfrmAddrBook::acContactFindExecute() {
  const bool show = !pnlSearch->isVisible();
  pnlSearch->setVisible(show);
  acContactFind->setChecked(show);
  if (show) {
    frameSearchEdit1->eSearch()->setFocus();
  } else {
    vstAddrBook->setFocus();
  }
}

void TfrmAddrBook::Search(bool find_next) {
  const QString text = frameSearchEdit1->eSearch()->text().toLower();
  TContactNode* first = model_->Tree().First();
  if (!first || text.isEmpty()) return;
  TContactNode* last = model_->NodeOf(last_hit_);
  if (!last) last = first;
  TContactNode* start = find_next ? qovra::TContactTree::Next(last) : first;
  for (int pass = 0; pass < 2; ++pass) {
    for (TContactNode* n = start; n; n = qovra::TContactTree::Next(n)) {
      const auto found = search_keys_.find(n);
      if (found == search_keys_.end()) continue;
      int column = -1;
      if (found->second.name.contains(text)) {
        column = 0;
      } else if (found->second.email.contains(text)) {
        column = 1;
      }
      if (column < 0) continue;
      // A hit inside a collapsed group is brought into view.
      for (TContactNode* p = n->Parent; p && p->Parent; p = p->Parent)
        vstAddrBook->expand(model_->IndexOf(p));
      FocusRow(n, column);
      vstAddrBook->scrollTo(model_->IndexOf(n, column), QAbstractItemView::PositionAtCenter);
      last_hit_ = model_->IndexOf(n);
      return;
    }
    if (!find_next || last == first) return;
    last = first;
    start = first;
  }
}

bool TfrmAddrBook::SearchKeyDown(QKeyEvent* key) {
  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && FocusedNode()) {
    if (!frameSearchEdit1->eSearch()->text().isEmpty()) {
      find_next_ = true;
      Search(true);
    }
    return true;
  }
  if (key->key() != Qt::Key_Escape) {
    find_next_ = false;
    last_hit_ = QPersistentModelIndex();
  }
  return false;
}

void TfrmAddrBook::KeySubtree(const TContactNode* node, bool add) {
  std::vector<const TContactNode*> pending{node};
  while (!pending.empty()) {
    const TContactNode* n = pending.back();
    pending.pop_back();
    if (add) {
      search_keys_[n] = {TAddrBookModel::CellText(*n, 0).toLower(),
                         n->IsGroup ? QString() : QString::fromUtf8(n->Record.Email).toLower()};
    } else {
      search_keys_.erase(n);
    }
    for (const auto& child : n->Children) pending.push_back(child.get());
  }
}

// The contacts book's tree view (private to TfrmAddrBook): drops always
// move, and only onto a group that takes the dragged row; the cells of a
// row in screen coordinates, for the edit dialogs laid over it.
#pragma once

#include <QRect>
#include <QTreeView>

class TfrmAddrBook;

namespace qovra::addressbook {

class TAddrBookTree : public QTreeView {
 public:
  TAddrBookTree(TfrmAddrBook* form, QWidget* parent) : QTreeView(parent), form_(form) {}

  // The screen rectangles of the cell of index: its icon (empty when it
  // has none) and the rest of the cell, where its text is drawn.
  void CellParts(const QModelIndex& index, QRect& icon, QRect& text) const;

 protected:
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool Accepts(QDropEvent* event);

  TfrmAddrBook* form_;
};

}  // namespace qovra::addressbook

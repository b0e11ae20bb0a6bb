// The address-book window's model: the book's tree of groups and contacts
// (TContactTree) in four columns: name, address, company, job title.
//
// Groups sort before contacts; two rows of a kind compare by the sort
// column's texts, locale-aware and case-sensitive. Sorting keeps the
// view's expansion and selection (persistent indexes follow the rows).
//
// GUI thread only.
#pragma once

#include <QAbstractItemModel>
#include <QString>

#include "qovra/addressbook/contact_tree.h"
#include "store/sqlite_db.h"

namespace qovra::ui {
class TImageList;
}

namespace qovra::addressbook {

inline constexpr const char* kAddrBookMime = "application/x-qovra-addrbook-node";

class TAddrBookModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit TAddrBookModel(QObject* parent = nullptr);

  void SetImages(const ui::TImageList* images) { images_ = images; }

  TContactTree& Tree() { return tree_; }
  // Clears the tree and loads the root with the whole book, sorted.
  bool Reload(SqliteDb& db);
  // Rebuilds node's subtree from the database, sorted.
  bool ReloadGroup(SqliteDb& db, TContactNode* node);

  TContactNode* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const TContactNode* node, int column = 0) const;
  static QString CellText(const TContactNode& node, int column);

  // Adds a child row under parent (a group at the start, a contact at the
  // end) and returns it.
  TContactNode* AddRow(TContactNode* parent, const TContact& record, bool is_group);
  // Removes node with its subtree.
  void RemoveRow(TContactNode* node);
  // Moves node to the end of new_parent's children.
  void MoveRow(TContactNode* node, TContactNode* new_parent);
  // Repaints node's row.
  void RowChanged(const TContactNode* node);

  int SortColumn() const { return sort_column_; }
  Qt::SortOrder SortOrder() const { return sort_order_; }
  // Sorts the whole tree by column in order.
  void SortAll(int column, Qt::SortOrder order);
  void Resort() { SortAll(sort_column_, sort_order_); }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
  Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;

 private:
  void SortChildren(TContactNode& node);
  static void Renumber(TContactNode& node);

  TContactTree tree_;
  const ui::TImageList* images_ = nullptr;
  QString headers_[4];
  int sort_column_ = 0;
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

}  // namespace qovra::addressbook

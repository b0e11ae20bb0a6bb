#include "qovra/addressbook/addr_book_model.h"

#include <QCollator>
#include <QMimeData>
#include <algorithm>

#include "base/utf.h"
#include "qovra/addressbook/address_book.h"
#include "qovra/ui/png_resources.h"

namespace qovra::addressbook {

TAddrBookModel::TAddrBookModel(QObject* parent) : QAbstractItemModel(parent) {}

bool TAddrBookModel::Reload(SqliteDb& db) {
  beginResetModel();
  tree_.Clear();
  TContactNode* root = AddAllGroupNode(tree_);
  const bool ok = LoadGroupNode(db, tree_, *root);
  SortChildren(tree_.Top());
  endResetModel();
  return ok;
}

bool TAddrBookModel::ReloadGroup(SqliteDb& db, TContactNode* node) {
  if (!node->Children.empty()) {
    beginRemoveRows(IndexOf(node), 0, static_cast<int>(node->Children.size()) - 1);
    TContactTree::DeleteChildren(*node);
    endRemoveRows();
  }
  TContactTree scratch;
  TContactNode* holder = scratch.AddNode(scratch.Top(), node->Record, true);
  const bool ok = LoadGroupNode(db, scratch, *holder);
  SortChildren(*holder);
  if (!holder->Children.empty()) {
    beginInsertRows(IndexOf(node), 0, static_cast<int>(holder->Children.size()) - 1);
    node->Children = std::move(holder->Children);
    for (auto& child : node->Children) child->Parent = node;
    endInsertRows();
  }
  return ok;
}

TContactNode* TAddrBookModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<TContactNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TAddrBookModel::IndexOf(const TContactNode* node, int column) const {
  if (!node || !node->Parent) return {};
  return createIndex(node->Row, column, const_cast<TContactNode*>(node));
}

QString TAddrBookModel::CellText(const TContactNode& node, int column) {
  const TContact& r = node.Record;
  if (node.IsGroup) return column == 0 ? QString::fromStdU16String(r.FirstName) : QString();
  switch (column) {
    case 0:
      return QString::fromStdU16String(ContactDisplayName(r));
    case 1:
      return QString::fromUtf8(r.Email);
    case 2:
      return QString::fromStdU16String(r.Company);
    case 3:
      return QString::fromStdU16String(r.JobTitle);
  }
  return {};
}

TContactNode* TAddrBookModel::AddRow(TContactNode* parent, const TContact& record, bool is_group) {
  const int row = is_group ? 0 : static_cast<int>(parent->Children.size());
  beginInsertRows(IndexOf(parent), row, row);
  auto node = std::make_unique<TContactNode>();
  node->Record = record;
  node->IsGroup = is_group;
  node->Parent = parent;
  TContactNode* raw = node.get();
  parent->Children.insert(parent->Children.begin() + row, std::move(node));
  Renumber(*parent);
  endInsertRows();
  return raw;
}

void TAddrBookModel::RemoveRow(TContactNode* node) {
  TContactNode* parent = node->Parent;
  beginRemoveRows(IndexOf(parent), node->Row, node->Row);
  parent->Children.erase(parent->Children.begin() + node->Row);
  Renumber(*parent);
  endRemoveRows();
}

void TAddrBookModel::MoveRow(TContactNode* node, TContactNode* new_parent) {
  TContactNode* old_parent = node->Parent;
  const int dest = static_cast<int>(new_parent->Children.size());
  if (!beginMoveRows(IndexOf(old_parent), node->Row, node->Row, IndexOf(new_parent), dest)) return;
  auto owned = std::move(old_parent->Children[static_cast<size_t>(node->Row)]);
  old_parent->Children.erase(old_parent->Children.begin() + node->Row);
  Renumber(*old_parent);
  owned->Parent = new_parent;
  new_parent->Children.push_back(std::move(owned));
  Renumber(*new_parent);
  endMoveRows();
}

void TAddrBookModel::RowChanged(const TContactNode* node) {
  emit dataChanged(IndexOf(node, 0), IndexOf(node, 3));
}

void TAddrBookModel::Renumber(TContactNode& node) {
  for (size_t i = 0; i < node.Children.size(); ++i) node.Children[i]->Row = static_cast<int>(i);
}

void TAddrBookModel::SortChildren(TContactNode& top) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseSensitive);
  const int column = sort_column_;
  const bool descending = sort_order_ == Qt::DescendingOrder;
  std::vector<TContactNode*> pending{&top};
  std::vector<std::pair<QString, std::unique_ptr<TContactNode>>> keyed;
  while (!pending.empty()) {
    TContactNode* node = pending.back();
    pending.pop_back();
    keyed.clear();
    keyed.reserve(node->Children.size());
    for (auto& child : node->Children)
      keyed.emplace_back(CellText(*child, column), std::move(child));
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
      if (a.second->IsGroup != b.second->IsGroup) return a.second->IsGroup;
      const int c = collator.compare(a.first, b.first);
      return descending ? c > 0 : c < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) node->Children[i] = std::move(keyed[i].second);
    Renumber(*node);
    for (auto& child : node->Children)
      if (child->IsGroup && !child->Children.empty()) pending.push_back(child.get());
  }
}

void TAddrBookModel::SortAll(int column, Qt::SortOrder order) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  sort_column_ = column;
  sort_order_ = order;
  SortChildren(tree_.Top());
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& i : before) after.push_back(IndexOf(NodeOf(i), i.column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QModelIndex TAddrBookModel::index(int row, int column, const QModelIndex& parent) const {
  const TContactNode* p = parent.isValid() ? NodeOf(parent) : &tree_.Top();
  if (row < 0 || column < 0 || column > 3 || static_cast<size_t>(row) >= p->Children.size())
    return {};
  return createIndex(row, column, p->Children[static_cast<size_t>(row)].get());
}

QModelIndex TAddrBookModel::parent(const QModelIndex& child) const {
  const TContactNode* node = NodeOf(child);
  if (!node || !node->Parent) return {};
  return IndexOf(node->Parent);
}

int TAddrBookModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const TContactNode* p = parent.isValid() ? NodeOf(parent) : &tree_.Top();
  return static_cast<int>(p->Children.size());
}

int TAddrBookModel::columnCount(const QModelIndex&) const {
  return 4;
}

QVariant TAddrBookModel::data(const QModelIndex& index, int role) const {
  const TContactNode* node = NodeOf(index);
  if (!node) return {};
  if (role == Qt::DisplayRole) return CellText(*node, index.column());
  if (role == Qt::DecorationRole && index.column() == 0 && images_)
    return images_->Pixmap(node->IsGroup ? 1 : 0);
  return {};
}

QVariant TAddrBookModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
    return headers_[section];
  return {};
}

bool TAddrBookModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                   int role) {
  if (orientation != Qt::Horizontal || role != Qt::EditRole || section < 0 || section > 3)
    return false;
  headers_[section] = value.toString();
  emit headerDataChanged(orientation, section, section);
  return true;
}

Qt::ItemFlags TAddrBookModel::flags(const QModelIndex& index) const {
  const TContactNode* node = NodeOf(index);
  if (!node) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  if (node->Parent != &tree_.Top()) f |= Qt::ItemIsDragEnabled;
  if (node->IsGroup) f |= Qt::ItemIsDropEnabled;
  return f;
}

QStringList TAddrBookModel::mimeTypes() const {
  return {QString::fromLatin1(kAddrBookMime)};
}

QMimeData* TAddrBookModel::mimeData(const QModelIndexList&) const {
  // The dragged row is the view's focused row.
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(kAddrBookMime), QByteArray("1"));
  return mime;
}

}  // namespace qovra::addressbook

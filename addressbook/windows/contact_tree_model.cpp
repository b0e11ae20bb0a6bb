#include "qovra/addressbook/contact_tree_model.h"

#include <QIcon>

#include "qovra/addressbook/address_book.h"
#include "qovra/ui/png_resources.h"

namespace qovra::addressbook {

TContactTreeModel::TContactTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

TContactTreeModel::~TContactTreeModel() = default;

void TContactTreeModel::BeginFill() {
  beginResetModel();
}

void TContactTreeModel::EndFill() {
  checks_.clear();
  search_keys_.clear();
  for (TContactNode* n = tree_.First(); n; n = TContactTree::Next(n)) {
    search_keys_.emplace_back(n, RowText(*n).toLower());
  }
  checks_.reserve(search_keys_.size());
  Recount();
  endResetModel();
}

const TContactNode* TContactTreeModel::AppendContact(const TContact& contact, bool checked) {
  const int row = static_cast<int>(tree_.Top().Children.size());
  beginInsertRows(QModelIndex(), row, row);
  const TContactNode* node = tree_.AddNode(tree_.Top(), contact, /*is_group=*/false);
  search_keys_.emplace_back(node, RowText(*node).toLower());
  checks_[node] = TCheck{checked, 1, checked ? 1 : 0};
  endInsertRows();
  return node;
}

QString TContactTreeModel::RowText(const TContactNode& node) {
  if (node.IsGroup) return QString::fromStdU16String(node.Record.FirstName);
  return QString::fromStdU16String(ContactDisplayName(node.Record)) + QStringLiteral(" <") +
         QString::fromStdString(node.Record.Email) + QLatin1Char('>');
}

TContactNode* TContactTreeModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<TContactNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TContactTreeModel::IndexOf(const TContactNode* node) const {
  if (!node || node == &tree_.Top()) return {};
  return createIndex(node->Row, 0, const_cast<TContactNode*>(node));
}

QModelIndex TContactTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  const TContactNode* p = parent.isValid() ? NodeOf(parent) : &tree_.Top();
  if (static_cast<size_t>(row) >= p->Children.size()) return {};
  return createIndex(row, 0, p->Children[static_cast<size_t>(row)].get());
}

QModelIndex TContactTreeModel::parent(const QModelIndex& child) const {
  const TContactNode* node = NodeOf(child);
  if (!node || !node->Parent) return {};
  return IndexOf(node->Parent);
}

int TContactTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  const TContactNode* p = parent.isValid() ? NodeOf(parent) : &tree_.Top();
  return static_cast<int>(p->Children.size());
}

int TContactTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

QVariant TContactTreeModel::data(const QModelIndex& index, int role) const {
  const TContactNode* node = NodeOf(index);
  if (!node) return {};
  switch (role) {
    case Qt::DisplayRole:
      return RowText(*node);
    case Qt::DecorationRole:
      if (images_) return images_->Icon(node->IsGroup ? 1 : 0);
      return {};
    case Qt::CheckStateRole:
      return static_cast<int>(CheckStateOf(node));
    default:
      return {};
  }
}

bool TContactTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const TContactNode* node = NodeOf(index);
  if (!node || role != Qt::CheckStateRole) return false;
  SetChecked(node, value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TContactTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

Qt::CheckState TContactTreeModel::CheckStateOf(const TContactNode* node) const {
  const auto found = checks_.find(node);
  if (found == checks_.end()) return Qt::Unchecked;
  const TCheck& c = found->second;
  if (node->IsGroup && c.contacts > 0) {
    if (c.checked_contacts == 0) return Qt::Unchecked;
    return c.checked_contacts == c.contacts ? Qt::Checked : Qt::PartiallyChecked;
  }
  return c.checked ? Qt::Checked : Qt::Unchecked;
}

void TContactTreeModel::Recount() {
  for (const auto& key : search_keys_) {
    TCheck& c = checks_[key.first];
    c.contacts = key.first->IsGroup ? 0 : 1;
    c.checked_contacts = (!key.first->IsGroup && c.checked) ? 1 : 0;
  }
  // Children come after their parents in tree order: add bottom-up.
  for (auto it = search_keys_.rbegin(); it != search_keys_.rend(); ++it) {
    const TContactNode* node = it->first;
    if (!node->Parent || node->Parent == &tree_.Top()) continue;
    const TCheck& c = checks_[node];
    TCheck& p = checks_[node->Parent];
    p.contacts += c.contacts;
    p.checked_contacts += c.checked_contacts;
  }
}

void TContactTreeModel::AddToAncestors(const TContactNode* node, int delta) {
  for (const TContactNode* p = node->Parent; p && p != &tree_.Top(); p = p->Parent) {
    checks_[p].checked_contacts += delta;
  }
}

void TContactTreeModel::SetChecked(const TContactNode* node, bool checked) {
  if (!node->IsGroup) {
    TCheck& c = checks_[node];
    if (c.checked == checked) return;
    c.checked = checked;
    c.checked_contacts = checked ? 1 : 0;
    AddToAncestors(node, checked ? 1 : -1);
    const QModelIndex at = IndexOf(node);
    emit dataChanged(at, at, {Qt::CheckStateRole});
    EmitAncestorsChanged(node);
    return;
  }
  std::vector<const TContactNode*> stack{node};
  while (!stack.empty()) {
    const TContactNode* n = stack.back();
    stack.pop_back();
    checks_[n].checked = checked;
    for (const auto& child : n->Children) stack.push_back(child.get());
  }
  Recount();
  EmitSubtreeChanged(node);
  EmitAncestorsChanged(node);
}

void TContactTreeModel::CheckAddresses(const std::unordered_set<std::string>& addresses) {
  if (addresses.empty()) return;
  for (const auto& key : search_keys_) {
    if (!key.first->IsGroup && addresses.count(AddressKey(key.first->Record.Email))) {
      checks_[key.first].checked = true;
    }
  }
  Recount();
  for (const auto& top : tree_.Top().Children) EmitSubtreeChanged(top.get());
}

void TContactTreeModel::EmitSubtreeChanged(const TContactNode* node) {
  const QModelIndex at = IndexOf(node);
  emit dataChanged(at, at, {Qt::CheckStateRole});
  std::vector<const TContactNode*> stack{node};
  while (!stack.empty()) {
    const TContactNode* n = stack.back();
    stack.pop_back();
    if (n->Children.empty()) continue;
    emit dataChanged(IndexOf(n->Children.front().get()), IndexOf(n->Children.back().get()),
                     {Qt::CheckStateRole});
    for (const auto& child : n->Children) {
      if (child->IsGroup) stack.push_back(child.get());
    }
  }
}

void TContactTreeModel::EmitAncestorsChanged(const TContactNode* node) {
  for (const TContactNode* p = node->Parent; p && p != &tree_.Top(); p = p->Parent) {
    const QModelIndex at = IndexOf(p);
    emit dataChanged(at, at, {Qt::CheckStateRole});
  }
}

std::vector<TRecipientEntry> TContactTreeModel::CheckedEntries() const {
  std::vector<TRecipientEntry> entries;
  for (const auto& key : search_keys_) {
    if (!key.first->IsGroup && CheckStateOf(key.first) == Qt::Checked) {
      entries.push_back(RecipientEntryOf(key.first->Record));
    }
  }
  return entries;
}

std::vector<TContact> TContactTreeModel::CheckedContacts() const {
  std::vector<TContact> contacts;
  for (const auto& key : search_keys_) {
    if (!key.first->IsGroup && CheckStateOf(key.first) == Qt::Checked) {
      contacts.push_back(key.first->Record);
    }
  }
  return contacts;
}

const TContactNode* TContactTreeModel::FindText(const QString& lowered) const {
  if (search_keys_.empty()) return nullptr;
  if (!lowered.isEmpty()) {
    for (const auto& key : search_keys_) {
      if (key.second.contains(lowered)) return key.first;
    }
  }
  return search_keys_.front().first;
}

}  // namespace qovra::addressbook

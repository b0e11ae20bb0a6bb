// The address book's tree of groups and contacts as a Qt item model, one
// column, with a check box on every row.
//
// The model owns a TContactTree (contact_tree.h). Row texts: a contact
// shows its display name + " <" + address + ">", a group its name; the
// icon is image 0 (contact) or 1 (group) of the image list given. A
// contact's check box is plain; a group's is three-state and follows the
// contacts below it (checked when all are, partly when some are), and
// checking or clearing a group does so to every contact below it. A group
// without any contact below keeps a state of its own.
//
// Every row's lower-cased text is kept for the search, so that a search
// step walks compact keys and never builds a text.
//
// GUI thread only.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "qovra/addressbook/contact_tree.h"
#include "qovra/addressbook/recipients.h"

namespace qovra::ui {
class TImageList;
}

namespace qovra::addressbook {

class TContactTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit TContactTreeModel(QObject* parent = nullptr);
  ~TContactTreeModel() override;

  // The 16-pixel pictures (not owned; may be null).
  void SetImages(const ui::TImageList* images) { images_ = images; }

  // The tree to fill; call BeginFill before changing it and EndFill after.
  TContactTree& Tree() { return tree_; }
  void BeginFill();
  void EndFill();

  // Appends a contact row at the top level with its check.
  const TContactNode* AppendContact(const TContact& contact, bool checked);

  // The node of index (null for the invalid index) and the index of node.
  TContactNode* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const TContactNode* node) const;

  // The row text of node as shown.
  static QString RowText(const TContactNode& node);

  // Checks every contact whose address, ASCII lower-cased, is in addresses.
  void CheckAddresses(const std::unordered_set<std::string>& addresses);
  // Sets one row's check (a group passes it to every contact below).
  void SetChecked(const TContactNode* node, bool checked);
  Qt::CheckState CheckStateOf(const TContactNode* node) const;

  // The checked contacts in tree order, as recipient entries (not yet
  // deduplicated) and as records.
  std::vector<TRecipientEntry> CheckedEntries() const;
  std::vector<TContact> CheckedContacts() const;

  // The first node in tree order whose lower-cased row text contains
  // lowered (already lower-cased); the first node when lowered is empty or
  // nothing matches; null for an empty tree.
  const TContactNode* FindText(const QString& lowered) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct TCheck {
    bool checked = false;  // a contact's check, or an empty group's own
    int contacts = 0;      // contacts below a group
    int checked_contacts = 0;
  };
  // Recounts every group from the contacts' checks.
  void Recount();
  // Adds delta checked contacts to every group above node.
  void AddToAncestors(const TContactNode* node, int delta);
  // Signals that node and everything below it may have changed.
  void EmitSubtreeChanged(const TContactNode* node);
  void EmitAncestorsChanged(const TContactNode* node);

  TContactTree tree_;
  const ui::TImageList* images_ = nullptr;
  std::unordered_map<const TContactNode*, TCheck> checks_;
  // Nodes in tree order with their lower-cased row texts.
  std::vector<std::pair<const TContactNode*, QString>> search_keys_;
};

}  // namespace qovra::addressbook

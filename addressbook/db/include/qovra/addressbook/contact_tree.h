// The tree of groups and contacts that the address-book windows show, as
// plain records (the windows put their own models over it).
//
// A group node holds a group record (Id, name in FirstName, parent in
// CompanyId, IsContact false); a contact node a contact record. The kind is
// also kept on the node. A contact linked to two groups has a node under
// each. Under every group its subgroups come first, then its contacts, in
// the order the database returns them.
//
// Interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/records.h"
#include "store/sqlite_db.h"

namespace qovra {

struct TContactNode {
  TContact Record;
  bool IsGroup = false;
  TContactNode* Parent = nullptr;  // null for the tree's hidden top
  int Row = 0;                     // index among Parent's children
  std::vector<std::unique_ptr<TContactNode>> Children;
};

class TContactTree {
 public:
  TContactTree() = default;
  TContactTree(const TContactTree&) = delete;
  TContactTree& operator=(const TContactTree&) = delete;

  // The hidden node above the top-level nodes.
  TContactNode& Top() { return top_; }
  const TContactNode& Top() const { return top_; }

  // Appends a node under parent and returns it (owned by the tree).
  TContactNode* AddNode(TContactNode& parent, const TContact& record, bool is_group);
  // Removes every node below node.
  static void DeleteChildren(TContactNode& node) { node.Children.clear(); }
  void Clear() { top_.Children.clear(); }

  // The first node in tree order, or null; and the node after node in tree
  // order (children first), or null at the end.
  TContactNode* First();
  static TContactNode* Next(TContactNode* node);

 private:
  TContactNode top_;
};

// Adds the root (group 0 captioned with msgAll) at the top level.
TContactNode* AddAllGroupNode(TContactTree& tree);

// Rebuilds node's subtree from the database: its subgroups (each loaded in
// turn), then its contacts. Each group is entered once, so a parent_id
// cycle of a damaged book ends. Without a database the node stays empty.
// False when a query failed (the subtree is then incomplete).
bool LoadGroupNode(SqliteDb& db, TContactTree& tree, TContactNode& node);

// Appends one node per contact of group group_id under node. For group 0
// these are the contacts linked to 0 and every contact without a link.
bool LoadGroupContacts(SqliteDb& db, TContactTree& tree, int32_t group_id, TContactNode& node);

}  // namespace qovra

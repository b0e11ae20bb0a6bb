// Helpers shared by the sources of TfrmAddrBook (private to them).
#pragma once

#include <QString>
#include <cstdint>

#include "base/messages.h"
#include "qovra/addressbook/contact_tree.h"

namespace qovra::addressbook::detail {

constexpr int kColumns = 4;
// Expanding stops this many levels below the group it starts at: the
// tree view lays out expanded rows recursively.
constexpr int kExpandDepth = 64;

inline QString Msg(const char* key) {
  return QString::fromUtf8(GetMsg(key));
}

// The root row ("all contacts", group 0).
inline bool IsRoot(const TContactNode* node) {
  return node && node->Parent && !node->Parent->Parent;
}

// The group id a row lies in (0 for the root's rows and the root itself).
inline int32_t ParentGroupId(const TContactNode* node) {
  return node->Parent && node->Parent->Parent ? node->Parent->Record.Id : 0;
}

}  // namespace qovra::addressbook::detail

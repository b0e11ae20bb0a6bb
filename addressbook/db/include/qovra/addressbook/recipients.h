// Recipient texts made from address-book contacts ("Name <address>") and
// the clean-up of such lists.
//
// A contact's display name is placed into a recipient text without the
// characters @ < > , ; and '"', which would let a name read as a second
// recipient or an address when the text is parsed again. The compose
// window's completion and the picker make their texts here.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/records.h"

namespace qovra {

// One recipient: the text shown ("Name <address>", UTF-8) and the address.
struct TRecipientEntry {
  std::string Text;
  std::string Address;
};

// The display name without @ < > , ; and '"'.
std::u16string RecipientName(const TContact& contact);

// RecipientName + " <" + address + ">" and the address.
TRecipientEntry RecipientEntryOf(const TContact& contact);

// Drops entries whose text is blank and every entry whose address equals
// that of an earlier one without regard to (ASCII) case; keeps the order.
void DedupRecipients(std::vector<TRecipientEntry>& entries);

// The texts joined by ", " and the addresses joined by ",".
std::string JoinRecipientTexts(const std::vector<TRecipientEntry>& entries);
std::string JoinRecipientAddresses(const std::vector<TRecipientEntry>& entries);

// An address as addresses are compared: ASCII lower-cased.
std::string AddressKey(std::string_view address);
// The keys of the addresses named in a typed recipient list
// (NormalizeAddressList), blank ones dropped.
std::unordered_set<std::string> AddressSetOf(std::string_view to_text);

}  // namespace qovra

#include "qovra/addressbook/recipients.h"

#include "base/address_list.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "qovra/addressbook/address_book.h"

namespace qovra {

std::u16string RecipientName(const TContact& contact) {
  std::u16string name = ContactDisplayName(contact);
  std::u16string out;
  out.reserve(name.size());
  for (char16_t ch : name) {
    if (std::u16string_view(u"@<>,;\"").find(ch) == std::u16string_view::npos) out += ch;
  }
  return out;
}

TRecipientEntry RecipientEntryOf(const TContact& contact) {
  return {Utf16ToUtf8(RecipientName(contact)) + " <" + contact.Email + ">", contact.Email};
}

std::string AddressKey(std::string_view address) {
  std::string out(address);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

void DedupRecipients(std::vector<TRecipientEntry>& entries) {
  std::unordered_set<std::string> seen;
  std::vector<TRecipientEntry> kept;
  kept.reserve(entries.size());
  for (TRecipientEntry& e : entries) {
    if (TrimBlanks(e.Text).empty()) continue;
    if (!seen.insert(AddressKey(e.Address)).second) continue;
    kept.push_back(std::move(e));
  }
  entries = std::move(kept);
}

namespace {

template <typename Field>
std::string Join(const std::vector<TRecipientEntry>& entries, std::string_view separator,
                 Field field) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += separator;
    out += field(entries[i]);
  }
  return out;
}

}  // namespace

std::string JoinRecipientTexts(const std::vector<TRecipientEntry>& entries) {
  return Join(entries, ", ", [](const TRecipientEntry& e) { return e.Text; });
}

std::string JoinRecipientAddresses(const std::vector<TRecipientEntry>& entries) {
  return Join(entries, ",", [](const TRecipientEntry& e) { return e.Address; });
}

std::unordered_set<std::string> AddressSetOf(std::string_view to_text) {
  std::vector<std::string> list;
  SplitToList(';', NormalizeAddressList(to_text), list, /*trim_items=*/true, /*skip_empty=*/true);
  std::unordered_set<std::string> set;
  for (const std::string& a : list) set.insert(AddressKey(a));
  return set;
}

}  // namespace qovra

#include "net/xml_maker_addresses.h"

#include <vector>

#include "base/text_utils.h"

namespace qovra {

std::string JoinAddressArray(const TEMailList& list, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < list.Count(); ++i) {
    if (i > 0) out += separator;
    out += list[i];
  }
  return out;
}

bool SplitAddressList(TEMailList& list, std::string_view s, char separator) {
  if (s.empty()) {
    list.Clear();
    return false;
  }
  std::vector<std::string> items;
  SplitToList(separator, s, items, true, true);
  if (items.empty()) return false;
  for (const std::string& item : items) {
    if (item.size() > kMaxAddressLen) return false;
  }
  list.Clear();
  for (const std::string& item : items) list.Add(item);
  return true;
}

}  // namespace qovra

// The address lists of a mail as one text and back.
#pragma once

#include <string>
#include <string_view>

#include "base/records.h"

namespace qovra {

// The entries in order joined by separator, none after the last; an empty
// list gives the empty text. Callers use "; " for display and ";" for
// storage.
std::string JoinAddressArray(const TEMailList& list, std::string_view separator);

// Splits s at every separator, trimming blanks and dropping empty items.
// When at least one item remains the list is replaced by the items and the
// result is true. An empty s empties the list and gives false. When no item
// remains, or an item is longer than kMaxAddressLen (it would be cut into a
// different address), the list is left as it was and the result is false.
[[nodiscard]] bool SplitAddressList(TEMailList& list, std::string_view s, char separator);

}  // namespace qovra

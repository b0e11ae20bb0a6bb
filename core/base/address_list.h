// E-mail addresses and the clean-up of typed recipient lists.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

struct TMailAddressParts {
  std::string User;
  std::string Domain;
};

// No "@": User = address. "@" first: Domain = the rest. "@" last: User = all
// before it. Otherwise User before and Domain after the first "@".
TMailAddressParts SplitMailAddress(std::string_view address);

struct TAddressEntry {
  std::string Name;
  std::string Address;
};

// One typed entry: `"Name" <addr>`, `'Name' addr`, `Name <addr>`, `Name addr`
// or a bare address. Leading blanks are skipped. A quoted entry's name runs to
// the matching quote; an address in angle brackets is taken from the next
// "<" to the following ">" (or the end); otherwise the address is the text
// after the name. When no address results and the name contains "@", the
// name is the address.
TAddressEntry ParseAddressEntry(std::string_view s);

// Reduces a typed recipient list to bare addresses joined by ";": control
// characters become blanks and "," becomes ";"; the text is split at ";" and
// at blanks outside double quotes; every item is reduced to its address;
// empty items and repeats (ignoring case) are dropped. A double-quoted
// stretch is a display name: it yields an address only when it is one
// itself, so `"Ivan Petrov" <ivan@a.uz>` gives "ivan@a.uz" alone.
std::string NormalizeAddressList(std::string_view s);

}  // namespace qovra

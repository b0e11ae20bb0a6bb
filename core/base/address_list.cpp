#include "base/address_list.h"

#include <vector>

#include "base/text_utils.h"

namespace qovra {
namespace {

bool IsBlank(char c) {
  return c == ' ' || (static_cast<unsigned char>(c) < 32 && c != 0);
}

}  // namespace

TMailAddressParts SplitMailAddress(std::string_view address) {
  TMailAddressParts parts;
  const size_t at = address.find('@');
  if (at == std::string_view::npos) {
    parts.User = std::string(address);
  } else if (at == 0) {
    parts.Domain = std::string(address.substr(1));
  } else if (at == address.size() - 1) {
    parts.User = std::string(address.substr(0, at));
  } else {
    parts.User = std::string(address.substr(0, at));
    parts.Domain = std::string(address.substr(at + 1));
  }
  return parts;
}

TAddressEntry ParseAddressEntry(std::string_view s) {
  TAddressEntry e;
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  const std::string_view rest = s.substr(i);
  if (rest.empty()) return e;

  // Text between the "<" at lt and the next ">" (or the end).
  auto angle = [&](size_t lt) {
    const size_t gt = rest.find('>', lt + 1);
    const size_t end = gt == std::string_view::npos ? rest.size() : gt;
    return TrimBlanks(rest.substr(lt + 1, end - lt - 1));
  };

  const char first = rest[0];
  if (first == '"' || first == '\'') {
    const size_t close = rest.find(first, 1);
    if (close != std::string_view::npos) {
      e.Name = std::string(rest.substr(1, close - 1));
      const size_t lt = rest.find('<', close + 1);
      e.Address = lt != std::string_view::npos ? angle(lt) : TrimBlanks(rest.substr(close + 1));
    } else {
      // No closing quote: the name runs to an angle address or the end.
      const size_t lt = rest.find('<', 1);
      const size_t name_end = lt == std::string_view::npos ? rest.size() : lt;
      e.Name = TrimBlanks(rest.substr(1, name_end - 1));
      if (lt != std::string_view::npos) e.Address = angle(lt);
    }
  } else if (const size_t lt = rest.find('<'); lt != std::string_view::npos) {
    e.Name = TrimBlanks(rest.substr(0, lt));
    e.Address = angle(lt);
  } else {
    size_t blank = 0;
    while (blank < rest.size() && !IsBlank(rest[blank])) ++blank;
    e.Name = std::string(rest.substr(0, blank));
    e.Address = TrimBlanks(rest.substr(blank));
  }
  if (e.Address.empty() && e.Name.find('@') != std::string::npos) {
    e.Address = std::move(e.Name);
    e.Name.clear();
  }
  return e;
}

std::string NormalizeAddressList(std::string_view s) {
  std::string text(s);
  for (char& c : text) {
    if (c >= 1 && c <= 31) c = ' ';
    if (c == ',') c = ';';
  }

  // Items split at ";" and blanks outside double quotes. A quoted stretch is
  // kept with its quotes, so that the entry parser reads it as a name.
  std::vector<std::string> items;
  std::string cur;
  bool quoted = false;
  auto flush = [&] {
    if (!cur.empty()) items.push_back(cur);
    cur.clear();
  };
  for (char c : text) {
    if (quoted) {
      cur += c;
      if (c == '"') {
        quoted = false;
        flush();
      }
    } else if (c == '"') {
      flush();
      cur += c;
      quoted = true;
    } else if (c == ';' || c == ' ') {
      flush();
    } else {
      cur += c;
    }
  }
  flush();

  std::vector<std::string> addresses;
  addresses.reserve(items.size());
  for (const auto& item : items) addresses.push_back(ParseAddressEntry(item).Address);
  RemoveDuplicates(addresses, true);

  std::string out;
  for (size_t k = 0; k < addresses.size(); ++k) {
    if (k) out += ';';
    out += addresses[k];
  }
  return out;
}

}  // namespace qovra

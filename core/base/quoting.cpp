#include "base/quoting.h"

#include <array>
#include <utility>

namespace qovra {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kEntities = {{
    {"&", "&amp;"},
    {"\"", "&quot;"},
    {"'", "&#039;"},
    {"<", "&lt;"},
    {">", "&gt;"},
}};

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesAt(std::string_view s, size_t pos, std::string_view what, bool ignore_case) {
  if (s.size() - pos < what.size()) return false;
  for (size_t k = 0; k < what.size(); ++k) {
    const char a = ignore_case ? LowerAscii(s[pos + k]) : s[pos + k];
    const char b = ignore_case ? LowerAscii(what[k]) : what[k];
    if (a != b) return false;
  }
  return true;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to,
                       bool ignore_case) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (MatchesAt(s, i, from, ignore_case)) {
      out += to;
      i += from.size();
    } else {
      out += s[i++];
    }
  }
  return out;
}

}  // namespace

std::string MaskQuotes(std::string_view s) {
  const std::string step = ReplaceAll(s, "\"", "\xCA\xBA", false);
  return ReplaceAll(step, "'", "\xCA\xB9", false);
}

std::string XmlEntities(std::string_view s, bool encode) {
  std::string out(s);
  if (encode) {
    for (const auto& [ch, entity] : kEntities) out = ReplaceAll(out, ch, entity, false);
  } else {
    for (auto it = kEntities.rbegin(); it != kEntities.rend(); ++it) {
      out = ReplaceAll(out, it->second, it->first, true);
    }
  }
  return out;
}

}  // namespace qovra

#include "base/text_utils.h"

#include <algorithm>
#include <charconv>

namespace qovra {
namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

template <typename Char>
std::basic_string<Char> TrimAtMost(std::basic_string_view<Char> s, uint32_t max_code) {
  size_t b = 0;
  size_t e = s.size();
  auto code = [](Char c) {
    return static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
  };
  while (b < e && code(s[b]) <= max_code) ++b;
  while (e > b && code(s[e - 1]) <= max_code) --e;
  return std::basic_string<Char>(s.substr(b, e - b));
}

}  // namespace

std::string ReplaceChars(std::string_view s, std::string_view chars, char new_char) {
  std::string out(s);
  for (char& c : out) {
    if (chars.find(c) != std::string_view::npos) c = new_char;
  }
  return out;
}

std::u16string ReplaceCharsW(std::u16string_view s, std::u16string_view chars, char16_t new_char) {
  std::u16string out(s);
  for (char16_t& c : out) {
    if (chars.find(c) != std::u16string_view::npos) c = new_char;
  }
  return out;
}

TCharSet MakeCharSet(std::string_view chars) {
  TCharSet set;
  for (char c : chars) set.set(static_cast<unsigned char>(c));
  return set;
}

std::string ReplaceCharSet(std::string_view s, const TCharSet& set, char new_char) {
  std::string out(s);
  for (char& c : out) {
    if (set.test(static_cast<unsigned char>(c))) c = new_char;
  }
  return out;
}

std::string TrimBlanks(std::string_view s) {
  return TrimAtMost<char>(s, 32);
}

std::u16string TrimBlanksW(std::u16string_view s) {
  return TrimAtMost<char16_t>(s, 32);
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

void RemoveDuplicates(std::vector<std::string>& list, bool skip_empty) {
  std::vector<std::string> kept;
  kept.reserve(list.size());
  for (auto& item : list) {
    if (skip_empty && TrimBlanks(item).empty()) continue;
    const bool seen = std::any_of(kept.begin(), kept.end(),
                                  [&](const std::string& k) { return SameTextAscii(k, item); });
    if (!seen) kept.push_back(std::move(item));
  }
  list.swap(kept);
}

size_t LastCharPos(char ch, std::string_view s) {
  const size_t p = s.rfind(ch);
  return p == std::string_view::npos ? 0 : p + 1;
}

void SplitToList(char delimiter, std::string_view s, std::vector<std::string>& list,
                 bool trim_items, bool skip_empty) {
  list.clear();
  if (s.empty()) return;
  auto add = [&](std::string_view item) {
    if (skip_empty && TrimBlanks(item).empty()) return;
    list.push_back(trim_items ? TrimBlanks(item) : std::string(item));
  };
  size_t start = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] == delimiter) {
      add(s.substr(start, i - start));
      start = i + 1;
    }
  }
  add(s.substr(start));
}

bool XorWithKey(void* buffer, size_t count, const void* key, size_t key_len) {
  if (key_len == 0 || count < key_len) return false;
  auto* b = static_cast<unsigned char*>(buffer);
  const auto* k = static_cast<const unsigned char*>(key);
  for (size_t i = 0; i < count; ++i) b[i] ^= k[i % key_len];
  return true;
}

std::string FormatByteSize(int64_t size) {
  if (size <= 1023) return std::to_string(size) + " B";
  if (size <= 1048575) return std::to_string(size / 1024) + " KB";
  return std::to_string(size / 1048576) + " MB";
}

std::string FormatByteSizeKB(int64_t size) {
  if (size <= 1023) return std::to_string(size) + " B";
  return std::to_string(size / 1024) + " KB";
}

std::u16string JoinNameParts(std::u16string_view a, std::u16string_view b, std::u16string_view c) {
  std::u16string joined(c);
  joined += u' ';
  joined += a;
  std::u16string result = TrimBlanksW(joined);
  if (!b.empty()) {
    result += u' ';
    result += b;
    result = TrimBlanksW(result);
  }
  return result;
}

std::u16string TrimCharsW(std::u16string_view s, char16_t max_char) {
  return TrimAtMost<char16_t>(s, max_char);
}

void SwapWideBytes(std::span<char16_t> buffer) {
  for (char16_t& c : buffer) {
    if (c == 0) break;
    c = static_cast<char16_t>(((c & 0xFF) << 8) | (c >> 8));
  }
}

int32_t VarToIntDef(std::string_view text, int32_t def) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string_view rest = text.substr(i);
  if (!rest.empty() && rest[0] == '+') {
    rest.remove_prefix(1);
    if (!rest.empty() && rest[0] == '-') return def;
  }
  if (rest.empty()) return def;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (ec != std::errc() || end != rest.data() + rest.size()) return def;
  return value;
}

void MakeBoundsRect(int32_t left, int32_t top, int32_t width, int32_t height, TRect& rect) {
  rect.Left = left;
  rect.Top = top;
  rect.Right = static_cast<int32_t>(int64_t{left} + width);
  rect.Bottom = static_cast<int32_t>(int64_t{top} + height);
}

}  // namespace qovra

// Text routines. 8-bit texts are std::string bytes; wide texts UTF-16.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qovra {

inline bool NotEmptyA(std::string_view s) {
  return !s.empty();
}
inline bool IsEmptyA(std::string_view s) {
  return s.empty();
}
inline bool NotEmptyW(std::u16string_view s) {
  return !s.empty();
}
inline bool IsEmptyW(std::u16string_view s) {
  return s.empty();
}
inline bool IsAssigned(const void* p) {
  return p != nullptr;
}
inline bool IsNil(const void* p) {
  return p == nullptr;
}

inline bool CharInStr(std::string_view s, char ch) {
  return s.find(ch) != std::string_view::npos;
}
inline bool CharInStrW(std::u16string_view s, char16_t ch) {
  return s.find(ch) != std::u16string_view::npos;
}

// Each character of s that occurs in chars is replaced by new_char.
std::string ReplaceChars(std::string_view s, std::string_view chars, char new_char);
std::u16string ReplaceCharsW(std::u16string_view s, std::u16string_view chars, char16_t new_char);

// A set of 8-bit characters.
using TCharSet = std::bitset<256>;
TCharSet MakeCharSet(std::string_view chars);
// Each character of s that is a member of set is replaced by new_char.
std::string ReplaceCharSet(std::string_view s, const TCharSet& set, char new_char);

// Blanks and control characters (codes up to 32) removed at both ends.
std::string TrimBlanks(std::string_view s);
std::u16string TrimBlanksW(std::u16string_view s);

// ASCII case-insensitive equality.
bool SameTextAscii(std::string_view a, std::string_view b);

// Keeps the first of items that are equal without regard to (ASCII) case, in
// their order; with skip_empty also drops items that are empty after
// trimming blanks.
void RemoveDuplicates(std::vector<std::string>& list, bool skip_empty);

// 1-based position of the last ch in s, 0 when absent.
size_t LastCharPos(char ch, std::string_view s);

// Clears list and fills it with the items of s: an item ends before a
// delimiter character or at the end of s; the first character of s is never
// taken as a delimiter (a delimiter at the end leaves an empty last item).
// With trim_items items are trimmed of blanks; with skip_empty items that
// are empty after trimming are dropped. An empty s gives an empty list.
void SplitToList(char delimiter, std::string_view s, std::vector<std::string>& list,
                 bool trim_items, bool skip_empty);

// The count bytes at buffer as an 8-bit text.
inline std::string BufToStr(const void* buffer, size_t count) {
  return count ? std::string(static_cast<const char*>(buffer), count) : std::string();
}

// buffer[i] ^= key[i % key_len] for every i < count. Returns false and
// changes nothing when count < key_len or key_len is 0.
bool XorWithKey(void* buffer, size_t count, const void* key, size_t key_len);

inline int64_t MinInt64(int64_t a, int64_t b) {
  return a < b ? a : b;
}

// Up to 1023: "<n> B"; up to 1048575: "<n div 1024> KB"; above: "<n div 1048576> MB".
std::string FormatByteSize(int64_t size);
// Up to 1023: "<n> B"; above: "<n div 1024> KB".
std::string FormatByteSizeKB(int64_t size);

// c + " " + a, trimmed of blanks and control characters; when b is not empty,
// that + " " + b, trimmed again. (first, middle, last) gives "last first
// middle"; (last, empty, first) gives "first last".
std::u16string JoinNameParts(std::u16string_view a, std::u16string_view b, std::u16string_view c);

// s without leading and trailing characters whose code is at most max_char.
std::u16string TrimCharsW(std::u16string_view s, char16_t max_char);

// Swaps the two bytes of every character in place, up to the first 0 or the
// end of the buffer, whichever comes first (UTF-16 byte-order exchange).
void SwapWideBytes(std::span<char16_t> buffer);

// text read as a decimal integer (leading blanks and a sign allowed); def
// when it is empty, not a number or out of the 32-bit range.
int32_t VarToIntDef(std::string_view text, int32_t def);

struct TRect {
  int32_t Left, Top, Right, Bottom;
};
// rect = left, top, left + width, top + height.
void MakeBoundsRect(int32_t left, int32_t top, int32_t width, int32_t height, TRect& rect);

}  // namespace qovra

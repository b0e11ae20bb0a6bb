// Windows-1251 (Cyrillic) code page: the 8-bit text of the settings file and of
// typed logins, passwords and PINs. A fixed table; no locale or iconv involved.
//
// Characters to bytes: every character that has no byte becomes "?" (one "?"
// per character, so a surrogate pair gives one "?"), so hashes of typed secrets
// come out as the Windows program computed them.
// Bytes to characters: total. 0x98, which the code page leaves undefined,
// stands for U+0098 and U+0098 is written back as 0x98, so every byte string
// survives bytes -> text -> bytes unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qovra {

// The character that byte b stands for.
char16_t Cp1251ToChar(unsigned char b);

// The byte of code point c, or nothing when the code page has none for it.
// Surrogate code points and values above U+10FFFF have none.
std::optional<unsigned char> CharToCp1251(char32_t c);

// True when c has a byte of its own (the settings file writes the others as
// character references).
inline bool IsCp1251Representable(char32_t c) {
  return CharToCp1251(c).has_value();
}

// UTF-16 text to bytes. A lone surrogate gives "?" like any other character
// without a byte.
std::string Utf16ToCp1251(std::u16string_view text);

// UTF-8 text to bytes. Each ill-formed sequence (a maximal invalid subpart, as
// a UTF-8 decoder replaces it) gives one "?".
std::string Utf8ToCp1251(std::string_view text);

// Bytes to UTF-16 text, one character per byte.
std::u16string Cp1251ToUtf16(std::string_view bytes);

// Bytes to UTF-8 text.
std::string Cp1251ToUtf8(std::string_view bytes);

}  // namespace qovra

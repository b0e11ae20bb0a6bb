// Conversions between UTF-8 (std::string) and UTF-16 (std::u16string).
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// Appends the UTF-8 bytes of one code point (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD; nothing is dropped silently.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. Every malformed, overlong or truncated sequence and every
// encoded surrogate becomes one U+FFFD; decoding continues after it.
std::u16string Utf8ToUtf16(std::string_view text);

// Length of the longest prefix of text that has at most max_units code units
// and does not end between the two halves of a surrogate pair.
size_t Utf16CutLength(std::u16string_view text, size_t max_units);

}  // namespace qovra

// Uzbek Cyrillic (and Russian) to Latin letters, used to propose a login name
// from the first and last names typed at registration.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// Transliterates s character by character; a pure function.
// - Е/е is "YE"/"ye" at the start, after a word boundary or after a vowel,
//   else "E"/"e"; Ц/ц is "S"/"s" at the start or after a word boundary;
//   С/с before Ҳ/ҳ is "S'"/"s'".
// - A two-letter output keeps its second letter capital only when the next
//   character is not a small letter ("ША" -> "SHA", "Шахар" -> "Shaxar").
// - Characters outside the letter table pass through the Windows-1251 code
//   page: those it holds come out unchanged, the others as "?" (a surrogate
//   pair is one character and gives one "?").
// The caller lowers the result for a login name; nothing is lowered here.
std::u16string CyrToLat(std::u16string_view s);

}  // namespace qovra

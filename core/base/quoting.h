// Quoting of text values for SQL texts and XML.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// Every double quote becomes U+02BA and then every apostrophe U+02B9 (both
// as UTF-8), so that the text can stand between quotes in an SQL text.
std::string MaskQuotes(std::string_view s);

// encode: "&" -> "&amp;", '"' -> "&quot;", "'" -> "&#039;", "<" -> "&lt;",
// ">" -> "&gt;", pair by pair in that order. Decoding replaces each entity
// (without regard to case) by its character, pair by pair in the reverse
// order, so that decoding reverses encoding.
std::string XmlEntities(std::string_view s, bool encode);

}  // namespace qovra

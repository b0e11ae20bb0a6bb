// Standard Base64 (RFC 4648 alphabet with "+" and "/", "=" padding, no line
// breaks) for byte strings.
//
// Decoders refuse anything that is not canonical input: a character outside
// the alphabet, or "=" anywhere but as the one or two last characters of the
// last group, gives an empty result, the same as a bad length.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// 4 * ceil(n / 3) characters.
std::string Base64Encode(std::string_view bytes);

// The decoded bytes; empty when text is empty, its length is not a multiple
// of 4, or it is malformed (see above).
std::string Base64Decode(std::string_view text);

// The coder used by the settings file: encoding is the same as Base64Encode.
std::string Base64EncodeStr(std::string_view bytes);

// Decodes the complete groups of four characters and ignores a shorter rest
// (so a length that is not a multiple of 4 is not an error here). Malformed
// groups give an empty result as in Base64Decode.
std::string Base64DecodeStr(std::string_view text);

}  // namespace qovra

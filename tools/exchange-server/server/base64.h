// Standard Base64 for the exchange server: "+" "/" alphabet, "=" padding,
// no line breaks.
#pragma once

#include <string>
#include <string_view>

namespace exchange {

std::string Base64Encode(std::string_view bytes);

// False for anything but canonical input: a length that is not a multiple
// of 4, a character outside the alphabet, "=" other than as the one or two
// last characters, or padding bits that are not zero. out is then empty.
[[nodiscard]] bool Base64Decode(std::string_view text, std::string& out);

}  // namespace exchange

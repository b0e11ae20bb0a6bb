// Version numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qovra {

// The version compiled into this build, as "major.minor.patch.build".
std::string_view ClientVersionString();

// With the dots of s at positions a < b < c: the number before a in bits
// 24-31, the number between a and b in bits 16-23 and the number between b
// and c in bits 0-15, each cut to its width; a part without a closing dot
// (and a text without dots) gives 0; a part that is not a number gives 0.
uint32_t VersionToInt(std::string_view s);

// The version text of the program file file_name: the compiled-in version
// when file_name is the running program itself, else empty (no other file
// carries a version).
std::string GetFileVersionString(std::string_view file_name);

}  // namespace qovra

// Small free routines without state used across the client core.
#pragma once

#include <cstddef>
#include <string>

namespace qovra {

// 2 x count upper-case hexadecimal digits of buffer.
std::string BinToHexStr(const void* buffer, size_t count);

}  // namespace qovra

#include "base/utils.h"

namespace qovra {

std::string BinToHexStr(const void* buffer, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const unsigned char*>(buffer);
  std::string out(count * 2, '0');
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[p[i] >> 4];
    out[2 * i + 1] = kDigits[p[i] & 15];
  }
  return out;
}

}  // namespace qovra

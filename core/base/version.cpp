#include "base/version.h"

#include <sys/stat.h>

#include <string>

#ifndef QOVRA_VERSION_STRING
#error "QOVRA_VERSION_STRING must be defined by the build"
#endif

namespace qovra {
namespace {

// Decimal value of part, 0 when it is empty or not a number.
uint32_t PartValue(std::string_view part) {
  if (part.empty()) return 0;
  uint64_t v = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > 0x7FFFFFFF) return 0;  // not a 32-bit number
  }
  return static_cast<uint32_t>(v);
}

bool SameFile(const std::string& a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

std::string_view ClientVersionString() {
  return QOVRA_VERSION_STRING;
}

uint32_t VersionToInt(std::string_view s) {
  const size_t a = s.find('.');
  if (a == std::string_view::npos) return 0;
  uint32_t result = (PartValue(s.substr(0, a)) & 0xFF) << 24;
  const size_t b = s.find('.', a + 1);
  if (b == std::string_view::npos) return result;
  result |= (PartValue(s.substr(a + 1, b - a - 1)) & 0xFF) << 16;
  const size_t c = s.find('.', b + 1);
  if (c == std::string_view::npos) return result;
  result |= PartValue(s.substr(b + 1, c - b - 1)) & 0xFFFF;
  return result;
}

std::string GetFileVersionString(std::string_view file_name) {
  if (file_name.empty()) return {};
  if (!SameFile(std::string(file_name), "/proc/self/exe")) return {};
  return std::string(ClientVersionString());
}

}  // namespace qovra

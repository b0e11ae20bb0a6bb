// Splitting a server URL into host, port and path.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qovra {

struct TUrlParts {
  std::string HostName;  // at most kMaxUrlHostLen bytes
  uint16_t Port = 0;     // the URL's port, else the scheme's default
  std::string UrlPath;   // path and query as written; at most kMaxUrlPathLen bytes
};

constexpr size_t kMaxUrlHostLen = 127;
constexpr size_t kMaxUrlPathLen = 511;

// Splits an absolute "http://" or "https://" URL. False, with parts
// unchanged, for an empty URL, a URL without one of these schemes, an empty
// host, a bad port, characters a URL may not hold, and a host or path longer
// than its limit. A URL without a path gets the path "/".
[[nodiscard]] bool CrackUrl(std::string_view url, TUrlParts& parts);

}  // namespace qovra

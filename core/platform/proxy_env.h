// The desktop session's proxy, as its environment gives it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qovra {

struct TSystemProxy {
  bool Enabled = false;
  std::string Host;
  uint16_t Port = 0;  // 0 when the value names no port
};

// Splits a proxy value such as "http://user:pw@host:3128/" or "host:3128":
// the scheme, user part and path are dropped; the host is the text before
// the last colon and the port the number after it (0 when it is not a
// number of 1 to 65535); without a colon the whole rest is the host and the
// port is 0. A bracketed IPv6 host keeps its brackets. False when no host
// remains.
[[nodiscard]] bool ParseProxyValue(std::string_view value, TSystemProxy& proxy);

// Reads http_proxy, then HTTP_PROXY, then all_proxy; the first that is set
// and not empty is parsed into proxy with Enabled true. False ("not found")
// and proxy unchanged when none is set or the value holds no host.
[[nodiscard]] bool ReadEnvironmentProxy(TSystemProxy& proxy);

}  // namespace qovra

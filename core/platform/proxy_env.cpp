#include "platform/proxy_env.h"

#include <cstdlib>

namespace qovra {

bool ParseProxyValue(std::string_view value, TSystemProxy& proxy) {
  std::string_view v = value;
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() &&
         (v.back() == ' ' || v.back() == '\t' || v.back() == '\r' || v.back() == '\n')) {
    v.remove_suffix(1);
  }
  if (const size_t scheme = v.find("://"); scheme != std::string_view::npos) {
    v.remove_prefix(scheme + 3);
  }
  if (const size_t slash = v.find('/'); slash != std::string_view::npos) v = v.substr(0, slash);
  if (const size_t at = v.rfind('@'); at != std::string_view::npos) v.remove_prefix(at + 1);

  std::string_view host = v;
  std::string_view port;
  const size_t colon = v.rfind(':');
  const size_t bracket = v.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = v.substr(0, colon);
    port = v.substr(colon + 1);
  }
  if (host.empty()) return false;

  uint32_t p = 0;
  bool numeric = !port.empty() && port.size() <= 5;
  for (char c : port) {
    if (c < '0' || c > '9') {
      numeric = false;
      break;
    }
    p = p * 10 + static_cast<uint32_t>(c - '0');
  }
  proxy.Enabled = true;
  proxy.Host = std::string(host);
  proxy.Port = (numeric && p >= 1 && p <= 65535) ? static_cast<uint16_t>(p) : 0;
  return true;
}

bool ReadEnvironmentProxy(TSystemProxy& proxy) {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy"}) {
    const char* value = std::getenv(name);
    if (value && value[0]) {
      TSystemProxy parsed;
      if (!ParseProxyValue(value, parsed)) return false;
      proxy = parsed;
      return true;
    }
  }
  return false;
}

}  // namespace qovra

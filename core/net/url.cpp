#include "net/url.h"

#include <curl/curl.h>

#include <memory>

namespace qovra {

namespace {

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlStrDeleter {
  void operator()(char* s) const { curl_free(s); }
};
using CurlStr = std::unique_ptr<char, CurlStrDeleter>;

bool GetPart(CURLU* u, CURLUPart what, unsigned flags, std::string& out) {
  char* raw = nullptr;
  if (curl_url_get(u, what, &raw, flags) != CURLUE_OK) return false;
  CurlStr owned(raw);
  out = raw ? raw : "";
  return true;
}

}  // namespace

bool CrackUrl(std::string_view url, TUrlParts& parts) {
  if (url.empty()) return false;
  for (char c : url) {
    // Blanks, control characters and bytes above ASCII do not belong in a URL.
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) {
      return false;
    }
  }
  // libcurl reads "http:///x" as host "x"; an empty authority is no host.
  const size_t authority = url.find("://");
  if (authority == std::string_view::npos || authority + 3 >= url.size() ||
      url[authority + 3] == '/') {
    return false;
  }
  std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
  if (!u) return false;
  const std::string text(url);
  if (curl_url_set(u.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;

  std::string scheme, host, port, path, query;
  if (!GetPart(u.get(), CURLUPART_SCHEME, 0, scheme)) return false;
  if (scheme != "http" && scheme != "https") return false;
  if (!GetPart(u.get(), CURLUPART_HOST, 0, host) || host.empty()) return false;
  if (!GetPart(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, port)) return false;
  if (!GetPart(u.get(), CURLUPART_PATH, 0, path)) return false;
  if (GetPart(u.get(), CURLUPART_QUERY, 0, query)) path += "?" + query;
  if (path.empty()) path = "/";

  unsigned long port_value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    port_value = port_value * 10 + static_cast<unsigned long>(c - '0');
    if (port_value > 65535) return false;
  }
  if (port.empty() || port_value == 0) return false;
  if (host.size() > kMaxUrlHostLen || path.size() > kMaxUrlPathLen) return false;

  parts.HostName = host;
  parts.Port = static_cast<uint16_t>(port_value);
  parts.UrlPath = path;
  return true;
}

}  // namespace qovra

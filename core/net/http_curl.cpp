#include "net/http_curl.h"

#include <cstdlib>
#include <mutex>

#include "base/base64.h"
#include "base/cp1251.h"
#include "net/http_timeouts.h"
#include "platform/proxy_env.h"

namespace qovra::http_detail {

CurlEasy NewCurlEasy() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  if (!ready) return nullptr;
  return CurlEasy(curl_easy_init());
}

bool CurlHeaderList::Append(const std::string& line) {
  curl_slist* grown = curl_slist_append(list_, line.c_str());
  if (!grown) return false;
  list_ = grown;
  return true;
}

bool SetCommonOptions(CURL* easy, char* error_buffer) {
  const THttpTimeouts t = GetHttpTimeouts();
  error_buffer[0] = '\0';
  bool ok = curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                              static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.ConnectMs)) ==
                 CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(t.LowSpeedBytes)) ==
                 CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(t.LowSpeedSeconds)) ==
                 CURLE_OK;
  return ok;
}

TProxyChoice DesktopProxy() {
  TProxyChoice choice;
  TSystemProxy proxy;
  if (!ReadEnvironmentProxy(proxy)) return choice;
  choice.Host = proxy.Host;
  choice.Port = proxy.Port;
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* value = std::getenv(name);
    if (value && value[0]) {
      choice.NoProxy = value;
      break;
    }
  }
  return choice;
}

TProxyChoice SettingsProxy(const TConnOpts& conn) {
  TProxyChoice choice;
  if (conn.useprxy && !conn.prxaddr.empty()) {
    choice.Host = conn.prxaddr.str();
    choice.Port = conn.prxport;
  }
  return choice;
}

bool SetProxy(CURL* easy, const TProxyChoice& proxy) {
  bool ok = curl_easy_setopt(easy, CURLOPT_PROXY, proxy.Host.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy.NoProxy.c_str()) == CURLE_OK;
  if (!proxy.Host.empty()) {
    ok = ok &&
         curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)) == CURLE_OK;
    if (proxy.Port > 0)
      ok = ok && curl_easy_setopt(easy, CURLOPT_PROXYPORT, proxy.Port) == CURLE_OK;
  }
  return ok;
}

std::string ProxyHostFor(const TProxyChoice& proxy, std::string_view host) {
  if (proxy.Host.empty()) return {};
  const auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  };
  const std::string name = lower(host);
  std::string_view list = proxy.NoProxy;
  while (!list.empty()) {
    const size_t end = list.find_first_of(", ");
    std::string_view entry = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (entry == "*") return {};
    while (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (entry.empty()) continue;
    const std::string domain = lower(entry);
    if (name == domain) return {};
    if (name.size() > domain.size() && name.ends_with(domain) &&
        name[name.size() - domain.size() - 1] == '.') {
      return {};
    }
  }
  return proxy.Host;
}

std::string ProxyUserBytes(const TConnOpts& conn) {
  return Utf8ToCp1251(conn.prxuser.str());
}

std::string ProxyPasswordBytes(const TConnOpts& conn) {
  return Utf8ToCp1251(conn.prxpass.str());
}

std::string ProxyAuthorizationLine(const TConnOpts& conn) {
  return "Proxy-Authorization: Basic " +
         Base64Encode(ProxyUserBytes(conn) + ":" + ProxyPasswordBytes(conn));
}

std::string ErrorDetail(const char* error_buffer) {
  std::string detail = error_buffer ? error_buffer : "";
  while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
  return detail;
}

}  // namespace qovra::http_detail

// libcurl plumbing shared by the two HTTP clients (private to the core).
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/records.h"

namespace qovra::http_detail {

inline constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; QOVRA HTTP Client 1.0)";

struct CurlEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

// A new easy handle; libcurl's global state is set up once before the
// first. Null when libcurl cannot make one.
CurlEasy NewCurlEasy();

// A header list for CURLOPT_HTTPHEADER / CURLOPT_PROXYHEADER, freed with it.
class CurlHeaderList {
 public:
  CurlHeaderList() = default;
  ~CurlHeaderList() { curl_slist_free_all(list_); }
  CurlHeaderList(const CurlHeaderList&) = delete;
  CurlHeaderList& operator=(const CurlHeaderList&) = delete;

  // False when libcurl could not take the line.
  [[nodiscard]] bool Append(const std::string& line);
  void Clear() {
    curl_slist_free_all(list_);
    list_ = nullptr;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// Options both clients share: the user agent, HTTP/1.1, HTTP and HTTPS
// only, no redirects, no signals, the time limits of http_timeouts.h and
// error_buffer (CURL_ERROR_SIZE bytes, which must outlive the transfer) for
// libcurl's detail text. False when libcurl refused one of them.
[[nodiscard]] bool SetCommonOptions(CURL* easy, char* error_buffer);

// The proxy one request uses.
struct TProxyChoice {
  std::string Host;     // empty: no proxy
  long Port = 0;        // 0: libcurl's default
  std::string NoProxy;  // hosts reached directly
};

// The desktop session's proxy: http_proxy, HTTP_PROXY or all_proxy, with
// no_proxy or NO_PROXY as the hosts that bypass it.
TProxyChoice DesktopProxy();

// The proxy of the settings: prxaddr and prxport when useprxy is set and
// prxaddr is not empty; the environment plays no part.
TProxyChoice SettingsProxy(const TConnOpts& conn);

// Sets the proxy explicitly, an empty one when there is none, so libcurl
// never reads a proxy or a bypass list from the environment itself.
[[nodiscard]] bool SetProxy(CURL* easy, const TProxyChoice& proxy);

// The proxy's host when a request to host goes through proxy; empty when it
// goes directly: no proxy, or host matched by an entry of proxy.NoProxy as
// libcurl matches them ("*" for every host, else a name equal to host or a
// domain that host lies in, a leading "." ignored, any case).
std::string ProxyHostFor(const TProxyChoice& proxy, std::string_view host);

// "Proxy-Authorization: Basic " + Base64 of prxuser ":" prxpass, the bytes
// of the settings as they are.
// The settings' proxy user and password (UTF-8 text) as the 8-bit bytes that
// go on the wire.
std::string ProxyUserBytes(const TConnOpts& conn);
std::string ProxyPasswordBytes(const TConnOpts& conn);
std::string ProxyAuthorizationLine(const TConnOpts& conn);

// libcurl's detail text of the last failure, without a trailing line break.
std::string ErrorDetail(const char* error_buffer);

}  // namespace qovra::http_detail

#include "net/http_errors.h"

#include <curl/curl.h>

#include <cstdio>

#include "base/messages.h"
#include "base/msg_format.h"

namespace qovra {

namespace {

bool IsTlsCode(int code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
      return true;
    default:
      return false;
  }
}

}  // namespace

THttpFailureKind HttpFailureKindOf(const THttpFailure& f) {
  const bool via_proxy = !f.ProxyHost.empty();
  switch (f.Code) {
    case CURLE_OK:
      return THttpFailureKind::None;
    case CURLE_URL_MALFORMAT:
      return THttpFailureKind::BadAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
      return THttpFailureKind::HostNotFound;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return THttpFailureKind::ProxyNotFound;
    case CURLE_COULDNT_CONNECT:
      // Through a proxy the connection is the proxy's.
      return via_proxy ? THttpFailureKind::ProxyConnectFailed : THttpFailureKind::ConnectFailed;
    case CURLE_PROXY:
      return THttpFailureKind::ProxyRefused;
    case CURLE_OPERATION_TIMEDOUT:
      return THttpFailureKind::TimedOut;
    case kHttpErrorStatus:
      if (f.Status == 407 && via_proxy) return THttpFailureKind::ProxyRefused;
      return f.Status >= 100 ? THttpFailureKind::Status : THttpFailureKind::BadReply;
    case CURLE_HTTP2:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_HTTP2_STREAM:
      return THttpFailureKind::ConnectionLost;
    // An HTTP/0.9 reply (no status line) is refused as an unsupported protocol;
    // the clients ask for http and https URLs only.
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return THttpFailureKind::BadReply;
    case kHttpErrorStream:
    case CURLE_WRITE_ERROR:
      return THttpFailureKind::LocalData;
    default:
      return IsTlsCode(f.Code) ? THttpFailureKind::Tls : THttpFailureKind::Other;
  }
}

std::string_view HttpFailureMsgKey(THttpFailureKind kind) {
  switch (kind) {
    case THttpFailureKind::None:
      return {};
    case THttpFailureKind::BadAddress:
      return "msgSpecifiedServerURLInvalid";
    case THttpFailureKind::HostNotFound:
      return "msgHttpHostNotFound";
    case THttpFailureKind::ConnectFailed:
      return "msgHttpConnectFailed";
    case THttpFailureKind::ProxyNotFound:
      return "msgHttpProxyNotFound";
    case THttpFailureKind::ProxyConnectFailed:
      return "msgHttpProxyConnectFailed";
    case THttpFailureKind::ProxyRefused:
      return "msgHttpProxyRefused";
    case THttpFailureKind::TimedOut:
      return "msgHttpTimedOut";
    case THttpFailureKind::Tls:
      return "msgHttpTlsFailed";
    case THttpFailureKind::Status:
      return "msgHttpStatus";
    case THttpFailureKind::ConnectionLost:
      return "msgHttpConnectionLost";
    case THttpFailureKind::BadReply:
      return "msgHttpBadReply";
    case THttpFailureKind::LocalData:
      return "msgHttpLocalDataFailed";
    case THttpFailureKind::Other:
      return "msgHttpRequestFailed";
  }
  return "msgHttpRequestFailed";
}

std::string HttpFailureMessage(const THttpFailure& f) {
  const THttpFailureKind kind = HttpFailureKindOf(f);
  const std::string text = GetMsg(HttpFailureMsgKey(kind));
  switch (kind) {
    case THttpFailureKind::None:
      return {};
    case THttpFailureKind::BadAddress:
    case THttpFailureKind::LocalData:
      return text;
    case THttpFailureKind::ProxyNotFound:
    case THttpFailureKind::ProxyConnectFailed:
    case THttpFailureKind::ProxyRefused:
      return FormatMsgArgs(text, f.ProxyHost);
    case THttpFailureKind::Status:
      return FormatMsgArgs(text, f.Host, f.Status);
    case THttpFailureKind::Other:
      return FormatMsgArgs(text, f.Host, f.Code);
    default:
      return FormatMsgArgs(text, f.Host);
  }
}

void LogHttpFailure(const THttpFailure& f) {
  std::string line = "qovra: HTTP request to " + (f.Host.empty() ? "?" : f.Host);
  if (!f.ProxyHost.empty()) line += " through the proxy " + f.ProxyHost;
  line += " failed: " + HttpErrorText(f.Code, f.Detail) + "\n";
  std::fputs(line.c_str(), stderr);
}

std::string HttpErrorText(int code, std::string_view detail) {
  std::string text;
  if (code >= 0 && code < CURL_LAST) {
    text = curl_easy_strerror(static_cast<CURLcode>(code));
    while (!text.empty() && (static_cast<unsigned char>(text.back()) < '!' || text.back() == '.')) {
      text.pop_back();
    }
    if (text == "Unknown error") text.clear();
  }
  if (text.empty()) return FormatMsgArgs("Unknown error, code = %d", code);
  if (!detail.empty()) {
    text += "; Extended error info: ";
    text += detail;
  }
  return text;
}

}  // namespace qovra

// Error codes, kinds and texts of the HTTP clients.
//
// An error code is a libcurl result code (CURLcode); 0 means no error. The
// clients use two codes of their own meaning for failures that are not
// libcurl's: kHttpErrorStatus when the server answered with an HTTP status
// other than 200, and kHttpErrorStream when a caller's stream could not be
// read or written.
//
// What the user reads is the language file's text for the kind of failure
// (HttpFailureMessage), with a host name or a status code where that helps.
// libcurl's own English words go to stderr only (LogHttpFailure).
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// libcurl's CURLE_HTTP_RETURNED_ERROR and CURLE_READ_ERROR.
constexpr int kHttpErrorStatus = 22;
constexpr int kHttpErrorStream = 26;

// One failed transfer as a client keeps it.
struct THttpFailure {
  int Code = 0;           // 0 none, a CURLcode, kHttpErrorStatus or kHttpErrorStream
  long Status = 0;        // the reply's status with kHttpErrorStatus; 0 when none was read
  std::string Host;       // the server's host name
  std::string ProxyHost;  // the proxy the request went through; empty: none
  std::string Detail;     // libcurl's or the client's own words on it (for the log)
};

// The kinds of failure a user is told apart; each has its message key.
enum class THttpFailureKind {
  None,
  BadAddress,          // msgSpecifiedServerURLInvalid
  HostNotFound,        // msgHttpHostNotFound (host)
  ConnectFailed,       // msgHttpConnectFailed (host)
  ProxyNotFound,       // msgHttpProxyNotFound (proxy host)
  ProxyConnectFailed,  // msgHttpProxyConnectFailed (proxy host)
  ProxyRefused,        // msgHttpProxyRefused (proxy host): status 407, proxy handshake
  TimedOut,            // msgHttpTimedOut (host)
  Tls,                 // msgHttpTlsFailed (host)
  Status,              // msgHttpStatus (host, status)
  ConnectionLost,      // msgHttpConnectionLost (host)
  BadReply,            // msgHttpBadReply (host): not an HTTP reply we can read
  LocalData,           // msgHttpLocalDataFailed: a stream of this side failed
  Other,               // msgHttpRequestFailed (host, error code)
};

THttpFailureKind HttpFailureKindOf(const THttpFailure& failure);

// The message key of kind; empty for None.
std::string_view HttpFailureMsgKey(THttpFailureKind kind);

// The text for the user: the message of the failure's kind filled with the
// host, the proxy's host, the status or the error code as the kind takes
// them. Empty when failure.Code is 0.
std::string HttpFailureMessage(const THttpFailure& failure);

// Writes one line to stderr: the host, HttpErrorText of the failure and,
// for a status failure, the status line.
void LogHttpFailure(const THttpFailure& failure);

// libcurl's description of code, without trailing characters below "!"
// and trailing full stops. When detail is not empty, "; Extended error
// info: " and detail are appended. A code libcurl does not know gives
// "Unknown error, code = <code>". English: for the log only.
std::string HttpErrorText(int code, std::string_view detail = {});

}  // namespace qovra

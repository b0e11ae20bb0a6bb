// What each kind of transport failure tells the user, for both clients,
// against loopback peers: the language file's text of its kind with the
// host, the proxy's host or the status, never libcurl's English, which goes
// to stderr instead.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/net/http_failure_markers.h"
#include "net/http_curl.h"
#include "net/http_errors.h"
#include "net/http_timeouts.h"
#include "seam/fake_ui.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"
#include "support/scratch_dir.h"

namespace {

using qovra::TMemoryStream;
using qovra_test::ClientKind;
using qovra_test::ListenerScript;
using qovra_test::LoopbackListener;

// A loopback port that was just free: nothing listens there.
uint16_t ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  (void)::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// Where one row's request goes.
struct Target {
  explicit Target(std::string url_, std::string proxy_ = {}, std::string no_proxy_ = {})
      : url(std::move(url_)), proxy(std::move(proxy_)), no_proxy(std::move(no_proxy_)) {}
  std::string url;
  std::string proxy;  // "host:port" of the proxy; empty: none
  std::string no_proxy;
};

enum class Drive { PostAndGet, GetToFile };

struct FailureRow {
  const char* name;
  // Starts the peers the row needs (kept in peers) and says where to go.
  std::function<Target(std::vector<std::unique_ptr<LoopbackListener>>& peers)> setup;
  const char* shown;     // the text the user reads
  const char* log;       // part of the reason written to stderr
  bool ie_only = false;  // no_proxy is the desktop's, which only the IE client reads
  Drive drive = Drive::PostAndGet;
};

LoopbackListener& Start(std::vector<std::unique_ptr<LoopbackListener>>& peers,
                        ListenerScript script) {
  peers.push_back(std::make_unique<LoopbackListener>(std::move(script)));
  return *peers.back();
}

// Through a proxy the server's name is never resolved by the client.
constexpr char kBehindProxy[] = "http://mail.example.uz/qovra4/";

std::string Closed() {
  return "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/qovra4/";
}

const FailureRow kRows[] = {
    {"connection_refused", [](auto&) { return Target(Closed()); }, "msgHttpConnectFailed 127.0.0.1",
     "Couldn't connect to server"},
    {"host_not_found", [](auto&) { return Target("http://qovra-test.invalid/qovra4/"); },
     "msgHttpHostNotFound qovra-test.invalid", "Couldn't resolve host name"},
    {"time_out",
     [](auto& peers) {
       return Target(Start(peers, {false, false, "", false}).Origin() + "/qovra4/");
     },
     "msgHttpTimedOut 127.0.0.1", "Timeout was reached"},
    {"http_status",
     [](auto& peers) {
       const std::string reply = qovra_test::HttpReplyText(503, "Service Unavailable", "busy");
       return Target(Start(peers, {true, false, reply, true}).Origin() + "/qovra4/");
     },
     "msgHttpStatus 127.0.0.1 503", "HTTP/1.1 503 Service Unavailable"},
    {"closed_without_reply",
     [](auto& peers) {
       return Target(Start(peers, {true, false, "", true}).Origin() + "/x");
     },
     "msgHttpConnectionLost 127.0.0.1", "Server returned nothing"},
    {"not_http",
     [](auto& peers) {
       return Target(Start(peers, {true, false, "SSH-2.0-OpenSSH\r\n\r\n", true}).Origin() + "/");
     },
     "msgHttpBadReply 127.0.0.1", "HTTP/0.9"},
    {"tls",
     [](auto& peers) {
       // Plain text where the TLS handshake's answer belongs.
       const LoopbackListener& peer =
           Start(peers, {false, false, qovra_test::HttpReplyText(200, "OK", "plain"), true});
       return Target("https://127.0.0.1:" + std::to_string(peer.Port()) + "/qovra4/");
     },
     "msgHttpTlsFailed 127.0.0.1", "SSL connect error"},
    {"proxy_not_found", [](auto&) { return Target(kBehindProxy, "qovra-proxy.invalid:3128"); },
     "msgHttpProxyNotFound qovra-proxy.invalid", "Couldn't resolve proxy name"},
    {"proxy_refuses_connections",
     [](auto&) { return Target(kBehindProxy, "localhost:" + std::to_string(ClosedPort())); },
     "msgHttpProxyConnectFailed localhost", "Couldn't connect to server"},
    {"proxy_wants_authentication",
     [](auto& peers) {
       const std::string reply =
           qovra_test::HttpReplyText(407, "Proxy Authentication Required", "");
       const LoopbackListener& proxy = Start(peers, {true, false, reply, true});
       return Target(kBehindProxy, "localhost:" + std::to_string(proxy.Port()));
     },
     "msgHttpProxyRefused localhost", "407"},
    {"proxy_bypassed_for_the_host",
     [](auto&) {
       return Target(Closed(), "localhost:" + std::to_string(ClosedPort()),
                     "example.org,127.0.0.1");
     },
     "msgHttpConnectFailed 127.0.0.1", "Couldn't connect to server", true},
    {"file_not_writable",
     [](auto& peers) {
       const std::string reply = qovra_test::HttpReplyText(200, "OK", "contacts");
       return Target(Start(peers, {true, false, reply, true}).Origin() + "/contacts.ecx");
     },
     "msgHttpLocalDataFailed", "cannot create a file", false, Drive::GetToFile},
};

class HttpFailures : public ::testing::Test {
 protected:
  void TearDown() override { qovra::ResetHttpTimeouts(); }
  qovra::testing::ScopedFakeUi ui_;  // the IE client's own msgUnreachableHost
  qovra_test::ScopedHttpFailureMarkers markers_;
  qovra::testing::ScratchDir dir_;
};

TEST_F(HttpFailures, EachKindIsToldInTheLanguageOfTheUser) {
  qovra::SetHttpTimeouts({2000, 1024, 2});
  for (const FailureRow& row : kRows) {
    for (ClientKind kind : {ClientKind::IE, ClientKind::Id}) {
      if (row.ie_only && kind != ClientKind::IE) continue;
      for (const bool post : {true, false}) {
        if (!post && row.drive == Drive::GetToFile) continue;
        SCOPED_TRACE(std::string(row.name) + " " + qovra_test::KindName(kind) +
                     (post ? " POST" : " GET"));
        std::vector<std::unique_ptr<LoopbackListener>> peers;
        const Target target = row.setup(peers);
        // The IE client takes the desktop's proxy, the Id client the settings'.
        std::map<std::string, std::optional<std::string>> vars;
        qovra::TConnOpts conn;
        if (!target.proxy.empty()) {
          vars["http_proxy"] = "http://" + target.proxy;
          if (!target.no_proxy.empty()) vars["no_proxy"] = target.no_proxy;
          const size_t colon = target.proxy.rfind(':');
          conn.useprxy = 1;
          conn.prxaddr = target.proxy.substr(0, colon);
          conn.prxport = static_cast<uint16_t>(std::stoi(target.proxy.substr(colon + 1)));
        }
        qovra_test::ScopedProxyEnv env(vars);

        TMemoryStream header("h");
        TMemoryStream reply;
        ::testing::internal::CaptureStderr();
        qovra_test::ClientOutcome out;
        if (row.drive == Drive::GetToFile) {
          out = qovra_test::DownloadFileWith(kind, conn, target.url,
                                             dir_.File("missing") + "/contacts.ecx");
        } else if (post) {
          out = qovra_test::PostWith(kind, conn, target.url,
                                     {qovra_test::MakePart("header", header)}, reply);
        } else {
          out = qovra_test::DownloadWith(kind, conn, target.url, reply);
        }
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.error, row.shown);
        EXPECT_NE(log.find(row.log), std::string::npos) << log;
      }
    }
  }
}

TEST(HttpFailureKinds, CodesNoLoopbackPeerProduces) {
  const qovra_test::ScopedHttpFailureMarkers markers;
  const struct {
    int code;
    long status;
    const char* proxy;
    const char* shown;
  } rows[] = {
      {60, 0, "", "msgHttpTlsFailed mail.example.uz"},           // peer certificate refused
      {97, 0, "proxy.lan", "msgHttpProxyRefused proxy.lan"},     // SOCKS handshake
      {407, 0, "", "msgHttpRequestFailed mail.example.uz 407"},  // not a libcurl code
      {22, 407, "", "msgHttpStatus mail.example.uz 407"},        // 407 without a proxy
      {22, 0, "", "msgHttpBadReply mail.example.uz"},            // no status line
      {3, 0, "", "msgSpecifiedServerURLInvalid"},
      {2, 0, "", "msgHttpRequestFailed mail.example.uz 2"},  // libcurl could not start
      {0, 0, "", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.code);
    qovra::THttpFailure f;
    f.Code = r.code;
    f.Status = r.status;
    f.Host = "mail.example.uz";
    f.ProxyHost = r.proxy;
    EXPECT_EQ(qovra::HttpFailureMessage(f), r.shown);
  }
}

TEST(HttpFailureKinds, ProxyBypassFollowsNoProxy) {
  const struct {
    const char* no_proxy;
    const char* host;
    const char* proxy_used;
  } rows[] = {
      {"", "mail.example.uz", "proxy.lan"},
      {"*", "mail.example.uz", ""},
      {"example.uz", "mail.example.uz", ""},
      {".example.uz", "mail.example.uz", ""},
      {"EXAMPLE.UZ", "Mail.Example.uz", ""},
      {"other.uz, example.uz", "mail.example.uz", ""},
      {"ample.uz", "mail.example.uz", "proxy.lan"},  // a suffix is no domain
      {"mail.example.uz", "example.uz", "proxy.lan"},
      {"127.0.0.1", "127.0.0.1", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.no_proxy) + " / " + r.host);
    qovra::http_detail::TProxyChoice proxy;
    proxy.Host = "proxy.lan";
    proxy.NoProxy = r.no_proxy;
    EXPECT_EQ(qovra::http_detail::ProxyHostFor(proxy, r.host), r.proxy_used);
  }
  EXPECT_EQ(qovra::http_detail::ProxyHostFor({}, "mail.example.uz"), "");
}

}  // namespace

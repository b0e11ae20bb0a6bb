// Which proxy each client uses, and when Proxy-Authorization goes out.
// Loopback peers stand in for the proxy, a decoy proxy and the server.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "base/base64.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"

namespace {

using qovra::TMemoryStream;
using qovra_test::ClientKind;
using qovra_test::ListenerScript;
using qovra_test::LoopbackListener;

ListenerScript Answer() {
  return ListenerScript{true, false, qovra_test::HttpReplyText(200, "OK", "<reply/>"), true};
}

enum class Env { None, LowerToProxy, UpperToProxy, LowerToDecoy };
enum class Expect { Direct, ViaProxy };

struct ProxyCase {
  const char* name;
  ClientKind kind;
  Env env;
  bool useprxy;  // settings point at the proxy peer
  bool prxauth;
  bool download;  // GET instead of the multipart POST
  Expect expect;
  bool auth_header;  // Proxy-Authorization expected at the proxy
};

const ProxyCase kCases[] = {
    // The IE client takes the desktop proxy; the header needs a proxy and prxauth.
    {"ie_env_lower_auth", ClientKind::IE, Env::LowerToProxy, true, true, false, Expect::ViaProxy,
     true},
    {"ie_env_upper_auth", ClientKind::IE, Env::UpperToProxy, true, true, false, Expect::ViaProxy,
     true},
    {"ie_env_no_auth", ClientKind::IE, Env::LowerToProxy, true, false, false, Expect::ViaProxy,
     false},
    {"ie_env_auth_without_useprxy", ClientKind::IE, Env::LowerToProxy, false, true, false,
     Expect::ViaProxy, false},
    {"ie_no_env_settings_ignored", ClientKind::IE, Env::None, true, true, false, Expect::Direct,
     false},
    {"ie_download_env", ClientKind::IE, Env::LowerToProxy, false, false, true, Expect::ViaProxy,
     false},
    // The Id client takes the settings and never the environment.
    {"id_env_ignored", ClientKind::Id, Env::LowerToDecoy, false, true, false, Expect::Direct,
     false},
    {"id_settings_auth", ClientKind::Id, Env::LowerToDecoy, true, true, false, Expect::ViaProxy,
     true},
    {"id_settings_no_auth", ClientKind::Id, Env::LowerToDecoy, true, false, false, Expect::ViaProxy,
     false},
    {"id_download_settings_auth", ClientKind::Id, Env::LowerToDecoy, true, true, true,
     Expect::ViaProxy, true},
    {"id_download_env_ignored", ClientKind::Id, Env::LowerToDecoy, false, false, true,
     Expect::Direct, false},
};

TEST(HttpProxy, SelectionAndAuthorization) {
  // The settings hold UTF-8 text; the header carries its Windows-1251 bytes
  // (Cyrillic U+0435 is 0xE5). The password holds a colon.
  const std::string user = "us\xD0\xB5r";
  const std::string pass = "p:w";
  const std::string expected_auth = "Basic " + qovra::Base64Encode("us\xE5r:p:w");
  ASSERT_EQ(expected_auth, "Basic dXPlcjpwOnc=");

  for (const ProxyCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LoopbackListener server(Answer());
    LoopbackListener proxy(Answer());
    LoopbackListener decoy(Answer());
    const std::string proxy_addr = "127.0.0.1:" + std::to_string(proxy.Port());
    const std::string decoy_addr = "http://127.0.0.1:" + std::to_string(decoy.Port());
    std::map<std::string, std::optional<std::string>> vars;
    if (c.env == Env::LowerToProxy) vars["http_proxy"] = "http://" + proxy_addr + "/";
    if (c.env == Env::UpperToProxy) vars["HTTP_PROXY"] = proxy_addr;
    if (c.env == Env::LowerToDecoy) {
      vars["http_proxy"] = decoy_addr;
      vars["HTTP_PROXY"] = decoy_addr;
      vars["all_proxy"] = decoy_addr;
    }
    qovra_test::ScopedProxyEnv env(vars);

    qovra::TConnOpts conn;
    conn.useprxy = c.useprxy;
    conn.prxaddr = "127.0.0.1";
    conn.prxport = proxy.Port();
    conn.prxauth = c.prxauth;
    conn.prxuser = user;
    conn.prxpass = pass;

    // Through a proxy the target host is never resolved, so a name that
    // cannot resolve proves the request went to the proxy.
    const std::string target = c.expect == Expect::ViaProxy ? "http://qovra.invalid:8080/qovra4/"
                                                            : server.Origin() + "/qovra4/";
    TMemoryStream header("h");
    TMemoryStream reply;
    const auto out = c.download
                         ? qovra_test::DownloadWith(c.kind, conn, target, reply)
                         : qovra_test::PostWith(c.kind, conn, target,
                                                {qovra_test::MakePart("header", header)}, reply);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(reply.Data(), "<reply/>");
    EXPECT_EQ(decoy.Connections(), 0);

    LoopbackListener& reached = c.expect == Expect::ViaProxy ? proxy : server;
    LoopbackListener& other = c.expect == Expect::ViaProxy ? server : proxy;
    EXPECT_EQ(other.Connections(), 0);
    const auto requests = reached.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto r = qovra_test::SplitRequest(requests[0].raw);
    const std::string verb = c.download ? "GET " : "POST ";
    EXPECT_EQ(
        r.request_line,
        verb + (c.expect == Expect::ViaProxy ? target : std::string("/qovra4/")) + " HTTP/1.1");
    EXPECT_EQ(qovra_test::HeaderValue(r, "Proxy-Authorization"),
              c.auth_header ? expected_auth : "");
    EXPECT_EQ(qovra_test::HeaderValue(r, "Authorization"), "");
  }
}

TEST(HttpProxy, NoProxyBypassesTheDesktopProxyForTheIEClient) {
  LoopbackListener server(Answer());
  LoopbackListener proxy(Answer());
  qovra_test::ScopedProxyEnv env(
      {{"http_proxy", "127.0.0.1:" + std::to_string(proxy.Port())}, {"no_proxy", "127.0.0.1"}});
  qovra::TConnOpts conn;
  conn.useprxy = 1;
  conn.prxauth = 1;
  conn.prxuser = "u";
  conn.prxpass = "p";
  TMemoryStream header("h");
  TMemoryStream reply;
  const auto out = qovra_test::PostWith(ClientKind::IE, conn, server.Origin() + "/qovra4/",
                                        {qovra_test::MakePart("header", header)}, reply);
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(proxy.Connections(), 0);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  // Bypassed: the credentials meant for the proxy never reach the server.
  EXPECT_EQ(
      qovra_test::HeaderValue(qovra_test::SplitRequest(requests[0].raw), "Proxy-Authorization"),
      "");
}

}  // namespace

// CrackUrl and the error texts of the HTTP layer.
#include <gtest/gtest.h>

#include <string>

#include "net/http_errors.h"
#include "net/url.h"

namespace {

struct UrlCase {
  const char* url;
  bool ok;
  const char* host;
  uint16_t port;
  const char* path;
};

const UrlCase kUrlCases[] = {
    {"http://mail.example.uz/qovra4/", true, "mail.example.uz", 80, "/qovra4/"},
    {"http://127.0.0.1:8080/qovra4/", true, "127.0.0.1", 8080, "/qovra4/"},
    {"https://mail.example.uz/qovra4/", true, "mail.example.uz", 443, "/qovra4/"},
    {"HTTP://Mail.Example.UZ/qovra4/", true, "Mail.Example.UZ", 80, "/qovra4/"},
    {"http://localhost", true, "localhost", 80, "/"},
    {"http://host/a/b?ver=3", true, "host", 80, "/a/b?ver=3"},
    {"", false, "", 0, ""},
    {"mail.example.uz/qovra4/", false, "", 0, ""},
    {"ftp://mail.example.uz/", false, "", 0, ""},
    {"http://", false, "", 0, ""},
    {"http:///qovra4/", false, "", 0, ""},
    {"http://host:99999/", false, "", 0, ""},
    {"http://host:0/", false, "", 0, ""},
    {"http://host:8x/", false, "", 0, ""},
    {"http://ho st/", false, "", 0, ""},
    {"http://host/\x01", false, "", 0, ""},
};

TEST(CrackUrl, Table) {
  for (const UrlCase& c : kUrlCases) {
    SCOPED_TRACE(c.url);
    qovra::TUrlParts parts;
    parts.HostName = "unchanged";
    ASSERT_EQ(qovra::CrackUrl(c.url, parts), c.ok);
    if (!c.ok) {
      EXPECT_EQ(parts.HostName, "unchanged");
      continue;
    }
    EXPECT_EQ(parts.HostName, c.host);
    EXPECT_EQ(parts.Port, c.port);
    EXPECT_EQ(parts.UrlPath, c.path);
  }
}

TEST(CrackUrl, HostAndPathLimits) {
  qovra::TUrlParts parts;
  EXPECT_TRUE(qovra::CrackUrl("http://" + std::string(127, 'h') + "/", parts));
  EXPECT_FALSE(qovra::CrackUrl("http://" + std::string(128, 'h') + "/", parts));
  EXPECT_TRUE(qovra::CrackUrl("http://h/" + std::string(510, 'p'), parts));
  EXPECT_FALSE(qovra::CrackUrl("http://h/" + std::string(511, 'p'), parts));
}

TEST(HttpErrorText, LibcurlTextTrimmedWithDetailAndFallback) {
  // 7 = CURLE_COULDNT_CONNECT, 28 = CURLE_OPERATION_TIMEDOUT.
  EXPECT_EQ(qovra::HttpErrorText(7), "Couldn't connect to server");
  EXPECT_EQ(qovra::HttpErrorText(28, "Operation too slow"),
            "Timeout was reached; Extended error info: Operation too slow");
  EXPECT_EQ(qovra::HttpErrorText(100000), "Unknown error, code = 100000");
  EXPECT_EQ(qovra::HttpErrorText(-1), "Unknown error, code = -1");
  for (int code = 1; code < 100; ++code) {
    const std::string text = qovra::HttpErrorText(code);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.') << code;
    EXPECT_NE(text.back(), ' ') << code;
  }
}

}  // namespace

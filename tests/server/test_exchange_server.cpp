// The running exchange server with both HTTP clients of the core: the test
// page, the contacts directory and posts of every body shape; and the
// bodies both clients put on the wire, taken apart by the server's parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dispatcher.h"
#include "multipart.h"
#include "net/ie_http_client.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"

namespace fs = std::filesystem;

namespace {

using qovra::TMemoryStream;
using qovra_test::ClientKind;

const ClientKind kKinds[] = {ClientKind::IE, ClientKind::Id};

// Part data of the shapes the protocol sends.
struct BodyShape {
  const char* name;
  std::string header;
  bool has_content;
  std::string content;
};

std::vector<BodyShape> Shapes(const std::string& ie_boundary) {
  std::string awkward = "line\r\n--" + ie_boundary + "X\r\n\r\n";
  awkward += "--------------------------0123456789abcdef\r\n";
  awkward += "Content-Disposition: form-data; name=\"header\"\r\n\r\n--\r\n";
  std::string binary(70000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7 + (i >> 8));
  return {
      {"header only", std::string(233, 'h'), false, ""},
      {"header and content", std::string(233, 'h'), true, binary},
      {"content with CR LF and fake delimiters", "hdr", true, awkward},
      {"zero-byte content", "hdr", true, ""},
  };
}

class ExchangeServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.error(); }
  qovra_test::ScopedProxyEnv env_;
  qovra_test::ExchangeServer server_;
};

TEST_F(ExchangeServerTest, PostsOfEveryShapeAreAcceptedFromBothClients) {
  for (ClientKind kind : kKinds) {
    for (const BodyShape& shape : Shapes("------------240102030405006")) {
      SCOPED_TRACE(std::string(qovra_test::KindName(kind)) + ": " + shape.name);
      TMemoryStream header(shape.header);
      TMemoryStream content(shape.content);
      std::vector<qovra::TRequestPart> parts{qovra_test::MakePart("header", header)};
      if (shape.has_content) parts.push_back(qovra_test::MakePart("content", content));
      TMemoryStream reply;
      const auto out = qovra_test::PostWith(kind, qovra::TConnOpts(), server_.Url(), parts, reply);
      ASSERT_TRUE(out.ok) << out.error;
      // Parsed, with a header part, which is no protocol header: code 2.
      EXPECT_EQ(reply.Data(), exchange::PlainReply(2));
    }
  }
}

TEST_F(ExchangeServerTest, PostWithoutHeaderPartGetsCode2) {
  for (ClientKind kind : kKinds) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    TMemoryStream content("c");
    TMemoryStream reply;
    const auto out = qovra_test::PostWith(kind, qovra::TConnOpts(), server_.Url(),
                                          {qovra_test::MakePart("content", content)}, reply);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(reply.Data(), "<reply><res val=\"2\"/></reply>");
  }
}

TEST_F(ExchangeServerTest, ConnectionTestPage) {
  for (ClientKind kind : kKinds) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    TMemoryStream page;
    const auto out = qovra_test::DownloadWith(kind, qovra::TConnOpts(), server_.Url(), page);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_NE(page.Data().find("Qovra"), std::string::npos);
  }
}

TEST_F(ExchangeServerTest, ContactsDirectory) {
  const std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><addressbook><group name=\"G\">"
      "<contact firstname=\"A\" email=\"a@localhost\"/></group></addressbook>";
  fs::create_directories(fs::path(server_.DataDir()) / "client");
  { std::ofstream(fs::path(server_.DataDir()) / "client" / "contacts_uzc.ecx") << content; }
  const fs::path target = fs::path(server_.DataDir()) / "downloaded.ecx";
  for (ClientKind kind : kKinds) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    const auto missing = qovra_test::DownloadFileWith(
        kind, qovra::TConnOpts(), server_.Origin() + "/client/contacts_ru.ecx", target.string());
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("404"), std::string::npos) << missing.error;
    EXPECT_FALSE(fs::exists(target));

    const auto found = qovra_test::DownloadFileWith(
        kind, qovra::TConnOpts(), server_.Origin() + "/client/contacts_uzc.ecx", target.string());
    ASSERT_TRUE(found.ok) << found.error;
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    fs::remove(target);

    TMemoryStream other;
    EXPECT_FALSE(qovra_test::DownloadWith(kind, qovra::TConnOpts(),
                                          server_.Origin() + "/client/x.ecx", other)
                     .ok);
  }
}

// Captures each client's request with a loopback peer and parses it as the
// server does: every part must come back exactly as it was given.
TEST(ExchangeServerParser, TakesBothClientsBodiesApartExactly) {
  qovra_test::ScopedProxyEnv env;
  const qovra::TDateTimeParts when{2031, 12, 30, 23, 59, 58, 999};
  for (ClientKind kind : kKinds) {
    for (const BodyShape& shape : Shapes("------------311230235958999")) {
      SCOPED_TRACE(std::string(qovra_test::KindName(kind)) + ": " + shape.name);
      qovra_test::LoopbackListener peer(qovra_test::ListenerScript{
          true, false, qovra_test::HttpReplyText(200, "OK", "<r/>"), true});
      TMemoryStream header(shape.header);
      TMemoryStream content(shape.content);
      std::vector<qovra::TRequestPart> parts{qovra_test::MakePart("header", header)};
      if (shape.has_content) parts.push_back(qovra_test::MakePart("content", content));
      TMemoryStream reply;
      if (kind == ClientKind::IE) {
        qovra::TIEHttpClient c(nullptr, nullptr, qovra::TConnOpts(), when);
        for (const auto& p : parts) ASSERT_TRUE(c.AddPart(p));
        ASSERT_TRUE(c.OpenRequest(peer.Origin() + "/qovra4/", qovra::kHttpVerbPost));
        ASSERT_TRUE(c.Send());
        ASSERT_TRUE(c.ReceiveToStream(reply)) << c.LastErrorText();
      } else {
        const auto out = qovra_test::PostWith(kind, qovra::TConnOpts(), peer.Origin() + "/qovra4/",
                                              parts, reply);
        ASSERT_TRUE(out.ok) << out.error;
      }
      const auto requests = peer.Requests();
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_EQ(requests[0].extra, "");
      const auto r = qovra_test::SplitRequest(requests[0].raw);
      EXPECT_EQ(qovra_test::HeaderValue(r, "Expect"), "");
      EXPECT_EQ(qovra_test::HeaderValue(r, "Content-Length"), std::to_string(r.body.size()));

      std::string boundary;
      ASSERT_EQ(
          exchange::ParseMultipartBoundary(qovra_test::HeaderValue(r, "Content-Type"), boundary),
          exchange::MultipartStatus::Ok);
      std::vector<exchange::MultipartPart> got;
      ASSERT_EQ(exchange::ParseMultipartBody(r.body, boundary, got), exchange::MultipartStatus::Ok);
      ASSERT_EQ(got.size(), parts.size());
      EXPECT_EQ(got[0].name, "header");
      EXPECT_TRUE(got[0].data == shape.header);
      EXPECT_EQ(got[0].content_type, "qovra/enc-data");
      EXPECT_EQ(got[0].filename, kind == ClientKind::IE ? "-" : "abc.xyz");
      if (shape.has_content) {
        EXPECT_EQ(got[1].name, "content");
        EXPECT_TRUE(got[1].data == shape.content);
      }
    }
  }
}

}  // namespace

// The request each client puts on the wire, captured by a loopback peer:
// request line, headers and body byte for byte, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "net/http_errors.h"
#include "net/http_multipart_body.h"
#include "net/ie_http_client.h"
#include "net/ie_http_client_body.h"
#include "seam/fake_ui.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"

namespace {

using qovra::TMemoryStream;
using qovra_test::ClientKind;
using qovra_test::ListenerScript;
using qovra_test::LoopbackListener;

const char kUserAgent[] = "Mozilla/4.0 (compatible; QOVRA HTTP Client 1.0)";

struct ProgressLog {
  std::vector<std::pair<int64_t, int64_t>> events;
  static void Record(void* data, int64_t total, int64_t done) {
    static_cast<ProgressLog*>(data)->events.emplace_back(total, done);
  }
};

// Bytes with CR LF, NUL and high bytes in them.
std::string BinaryBytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  for (size_t i = 100; i + 1 < n; i += 997) {
    s[i] = '\r';
    s[i + 1] = '\n';
  }
  return s;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(IEHttpClientWire, TwoPartsGoOutByteForByteAndNothingElse) {
  qovra_test::ScopedProxyEnv env;
  LoopbackListener peer(
      ListenerScript{true, false, qovra_test::HttpReplyText(200, "OK", "<r/>"), true});
  TMemoryStream header("HEADER\r\n--------------x\r\nbytes");
  // Over two blocks, so that the part goes out in several steps.
  TMemoryStream content(BinaryBytes(2 * qovra::http_detail::kBodyBlockSize + 20000));
  ASSERT_TRUE(content.SetPosition(5));  // the client rewinds it

  ProgressLog log;
  qovra::TConnOpts conn;
  qovra::TIEHttpClient client(&ProgressLog::Record, &log, conn,
                              qovra::TDateTimeParts{2024, 1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(client.AddPart(qovra_test::MakePart("header", header)));
  ASSERT_TRUE(client.AddPart(qovra_test::MakePart("content", content)));
  ASSERT_TRUE(client.OpenRequest(peer.Origin() + "/qovra4/", qovra::kHttpVerbPost));
  ASSERT_TRUE(client.Send()) << client.LastErrorText();
  TMemoryStream reply;
  ASSERT_TRUE(client.ReceiveToStream(reply)) << client.LastErrorText();
  EXPECT_EQ(reply.Data(), "<r/>");

  const std::string b = "------------240102030405006";
  EXPECT_EQ(client.Boundary(), b);
  const std::string expected_body =
      "--" + b + "\r\n" +
      "Content-Disposition: form-data; name=\"header\"; filename=\"-\"\r\n"
      "Content-Type: qovra/enc-data\r\n"
      "\r\n" +
      header.Data() + "\r\n--" + b + "\r\n" +
      "Content-Disposition: form-data; name=\"content\"; filename=\"-\"\r\n"
      "Content-Type: qovra/enc-data\r\n"
      "\r\n" +
      content.Data() + "\r\n--" + b + "--";

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto r = qovra_test::SplitRequest(requests[0].raw);
  EXPECT_EQ(r.request_line, "POST /qovra4/ HTTP/1.1");
  EXPECT_EQ(Sorted(r.headers), Sorted({"Host: 127.0.0.1:" + std::to_string(peer.Port()),
                                       std::string("User-Agent: ") + kUserAgent,
                                       "Content-Type: multipart/form-data; boundary=" + b,
                                       "Content-Length: " + std::to_string(expected_body.size())}));
  EXPECT_TRUE(r.body == expected_body) << "body differs";
  EXPECT_EQ(requests[0].extra, "");
  EXPECT_EQ(client.ContentLength(), static_cast<int64_t>(expected_body.size()));

  // Sending: (content length, bytes so far) up to the whole, in steps of at
  // most one block; then receiving: (4, 0), (4, 4).
  ASSERT_GE(log.events.size(), 4u);
  int64_t last = 0;
  size_t i = 0;
  for (; i < log.events.size() && log.events[i].first == client.ContentLength(); ++i) {
    EXPECT_GT(log.events[i].second, last);
    EXPECT_LE(log.events[i].second - last,
              static_cast<int64_t>(qovra::http_detail::kBodyBlockSize));
    last = log.events[i].second;
  }
  EXPECT_EQ(last, client.ContentLength());
  ASSERT_EQ(log.events.size() - i, 2u);
  EXPECT_EQ(log.events[i], std::make_pair(int64_t{4}, int64_t{0}));
  EXPECT_EQ(log.events[i + 1], std::make_pair(int64_t{4}, int64_t{4}));
}

TEST(IEHttpClientWire, PartNamesAndRefusedParts) {
  // A 16-character name without NUL is used whole; longer names are cut to 16.
  qovra::TRequestPart p;
  p.SetName("abcdefghijklmnopqrst");
  EXPECT_EQ(p.NameText(), "abcdefghijklmnop");
  EXPECT_EQ(qovra::MultipartPartHeader("B", 1, p.NameText()),
            "\r\n--B\r\nContent-Disposition: form-data; name=\"abcdefghijklmnop\"; "
            "filename=\"-\"\r\nContent-Type: qovra/enc-data\r\n\r\n");

  TMemoryStream s("x");
  qovra::TIEHttpClient ie(nullptr, nullptr, qovra::TConnOpts());
  qovra::TIdHttpClient id(nullptr, nullptr, qovra::TConnOpts());
  for (const std::string& name : {std::string(), std::string("a\"b"), std::string("a\r\nb")}) {
    EXPECT_FALSE(ie.AddPart(qovra_test::MakePart(name, s))) << name;
    EXPECT_FALSE(id.AddPart(qovra_test::MakePart(name, s))) << name;
  }
  qovra::TRequestPart no_stream;
  no_stream.SetName("header");
  EXPECT_FALSE(ie.AddPart(no_stream));
  EXPECT_FALSE(id.AddPart(no_stream));
}

// A stream that claims more bytes than it has.
class ShortStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int64_t Size() override { return TMemoryStream::Size() + 100; }
};

TEST(HttpClientWire, StreamShorterThanItsSizeFailsTheRequest) {
  qovra_test::ScopedProxyEnv env;
  for (ClientKind kind : {ClientKind::IE, ClientKind::Id}) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    LoopbackListener peer(
        ListenerScript{true, false, qovra_test::HttpReplyText(200, "OK", "x"), true});
    ShortStream header(std::string(50, 'h'));
    TMemoryStream reply;
    ::testing::internal::CaptureStderr();
    const auto out = qovra_test::PostWith(kind, qovra::TConnOpts(), peer.Origin() + "/qovra4/",
                                          {qovra_test::MakePart("header", header)}, reply);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(out.ok);
    // The user reads the text of the kind; the reason goes to the log.
    EXPECT_EQ(out.error, qovra::GetMsg("msgHttpLocalDataFailed"));
    EXPECT_NE(log.find("fewer bytes"), std::string::npos) << log;
    EXPECT_EQ(reply.Data(), "");
  }
}

// A stream of size bytes of zeros, produced on demand.
class ZeroStream : public qovra::TStream {
 public:
  explicit ZeroStream(int64_t size) : size_(size) {}
  size_t Read(void* buffer, size_t count) override {
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - pos_));
    std::fill_n(static_cast<char*>(buffer), n, '\0');
    pos_ += static_cast<int64_t>(n);
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, qovra::SeekOrigin origin) override {
    const int64_t base = origin == qovra::SeekOrigin::Beginning ? 0
                         : origin == qovra::SeekOrigin::Current ? pos_
                                                                : size_;
    if (base + offset < 0) return -1;
    pos_ = base + offset;
    return pos_;
  }
  int64_t Size() override { return size_; }
  bool SetSize(int64_t) override { return false; }

 private:
  int64_t size_;
  int64_t pos_ = 0;
};

TEST(HttpClientWire, SizesAbove4GiBReachTheWire) {
  // The peer reads the head only and answers at once, so the 5 GiB are
  // never sent; the head must still declare them.
  qovra_test::ScopedProxyEnv env;
  const int64_t big = (int64_t{5} << 30) + 123;
  for (ClientKind kind : {ClientKind::IE, ClientKind::Id}) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    LoopbackListener peer(
        ListenerScript{true, true, qovra_test::HttpReplyText(413, "Too Large", ""), true});
    ZeroStream content(big);
    TMemoryStream header("h");
    TMemoryStream reply;
    ProgressLog log;
    const auto out = qovra_test::PostWith(
        kind, qovra::TConnOpts(), peer.Origin() + "/qovra4/",
        {qovra_test::MakePart("header", header), qovra_test::MakePart("content", content)}, reply,
        &ProgressLog::Record, &log);
    EXPECT_FALSE(out.ok);
    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto r = qovra_test::SplitRequest(requests[0].raw);
    const int64_t declared = std::stoll(qovra_test::HeaderValue(r, "Content-Length"));
    EXPECT_GT(declared, big);
    EXPECT_LT(declared, big + 1000);
    // Whatever got out before the refusal was reported against the full size.
    if (kind == ClientKind::IE) {
      for (const auto& e : log.events) EXPECT_EQ(e.first, declared);
    }
  }
}

// A stream that takes its time: each read waits a little.
class SlowStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  size_t Read(void* buffer, size_t count) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return TMemoryStream::Read(buffer, count);
  }
};

TEST(IEHttpClientWire, ReplyArrivingWhileSendingIsKeptForReceive) {
  // The peer answers as soon as the head is in; the body takes a while, so
  // the reply reaches the client during Send and must wait for the caller
  // (without stalling the transfer). libcurl may stop sending once the
  // reply is complete; the reply is what counts.
  qovra_test::ScopedProxyEnv env;
  ListenerScript script{true, false, qovra_test::HttpReplyText(200, "OK", "early reply"), true};
  script.reply_early = true;
  LoopbackListener peer(script);
  SlowStream content(std::string(qovra::http_detail::kBodyBlockSize * 8, 'c'));
  qovra::TIEHttpClient client(nullptr, nullptr, qovra::TConnOpts());
  ASSERT_TRUE(client.AddPart(qovra_test::MakePart("header", content)));
  ASSERT_TRUE(client.OpenRequest(peer.Origin() + "/qovra4/", qovra::kHttpVerbPost));
  ASSERT_TRUE(client.Send()) << client.LastErrorText();
  TMemoryStream reply;
  ASSERT_TRUE(client.ReceiveToStream(reply)) << client.LastErrorText();
  EXPECT_EQ(reply.Data(), "early reply");
}

TEST(IEHttpClientWire, GetSendsNoBody) {
  qovra_test::ScopedProxyEnv env;
  LoopbackListener peer(
      ListenerScript{true, false, qovra_test::HttpReplyText(200, "OK", "page"), true});
  qovra::TIEHttpClient client(nullptr, nullptr, qovra::TConnOpts());
  ASSERT_TRUE(client.OpenRequest(peer.Origin() + "/qovra4/", qovra::kHttpVerbGet));
  ASSERT_TRUE(client.Send()) << client.LastErrorText();
  TMemoryStream reply;
  ASSERT_TRUE(client.ReceiveToStream(reply)) << client.LastErrorText();
  EXPECT_EQ(reply.Data(), "page");
  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto r = qovra_test::SplitRequest(requests[0].raw);
  EXPECT_EQ(r.request_line, "GET /qovra4/ HTTP/1.1");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(qovra_test::HeaderValue(r, "Content-Length"), "");
}

TEST(IEHttpClientWire, StatusOtherThan200ShowsUnreachableHost) {
  qovra_test::ScopedProxyEnv env;
  qovra::testing::ScopedFakeUi ui;
  qovra::SetMsg("msgUnreachableHost", "Host %s cannot be reached");
  qovra::SetMsg("msgHttpStatus", "Status %s %d");
  LoopbackListener peer(
      ListenerScript{true, false, qovra_test::HttpReplyText(404, "Not Found", "missing"), true});
  TMemoryStream header("h");
  qovra::TIEHttpClient client(nullptr, nullptr, qovra::TConnOpts());
  ASSERT_TRUE(client.AddPart(qovra_test::MakePart("header", header)));
  ASSERT_TRUE(client.OpenRequest(peer.Origin() + "/qovra4/", qovra::kHttpVerbPost));
  ASSERT_TRUE(client.Send());
  TMemoryStream reply;
  EXPECT_FALSE(client.ReceiveToStream(reply));
  EXPECT_EQ(reply.Data(), "");  // the error page is not kept
  EXPECT_EQ(client.LastError(), qovra::kHttpErrorStatus);
  EXPECT_EQ(client.LastErrorText(), "Status 127.0.0.1 404");
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].text, "Host 127.0.0.1 cannot be reached");
  EXPECT_EQ(ui->messages[0].flags, qovra::kMsgIconWarning);
  qovra::ClearMsgTable();
}

TEST(IEHttpClientWire, ReplyWithoutContentLengthIsReadToTheEnd) {
  qovra_test::ScopedProxyEnv env;
  const std::string body(20000, 'r');
  LoopbackListener peer(
      ListenerScript{true, false, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body, true});
  TMemoryStream header("h");
  ProgressLog log;
  qovra::TIEHttpClient client(&ProgressLog::Record, &log, qovra::TConnOpts());
  ASSERT_TRUE(client.AddPart(qovra_test::MakePart("header", header)));
  ASSERT_TRUE(client.OpenRequest(peer.Origin() + "/qovra4/", qovra::kHttpVerbPost));
  ASSERT_TRUE(client.Send());
  TMemoryStream reply;
  ASSERT_TRUE(client.ReceiveToStream(reply)) << client.LastErrorText();
  EXPECT_EQ(reply.Data(), body);
  // Receiving reports against the assumed total of 8192.
  const auto first_receive =
      std::find(log.events.begin(), log.events.end(), std::make_pair(int64_t{8192}, int64_t{0}));
  EXPECT_NE(first_receive, log.events.end());
  EXPECT_EQ(log.events.back(), std::make_pair(int64_t{8192}, static_cast<int64_t>(body.size())));
}

}  // namespace

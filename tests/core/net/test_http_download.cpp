// Downloads and posts of both clients against peers that answer, refuse,
// drop the connection or stall: a failure never leaves partial data behind
// and a stalled server gives an error within the (shortened) limits.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/net/http_failure_markers.h"
#include "net/http_errors.h"
#include "net/http_timeouts.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"

namespace fs = std::filesystem;

namespace {

using qovra::TMemoryStream;
using qovra_test::ClientKind;
using qovra_test::ListenerScript;
using qovra_test::LoopbackListener;

const ClientKind kKinds[] = {ClientKind::IE, ClientKind::Id};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> FolderNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class HttpDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/qovra-dl-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    qovra::ResetHttpTimeouts();
  }
  qovra_test::ScopedProxyEnv env_;
  qovra_test::ScopedHttpFailureMarkers markers_;
  fs::path dir_;
};

TEST_F(HttpDownload, Status200IsSavedWhole) {
  const std::string body(100000, 'c');
  for (ClientKind kind : kKinds) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    LoopbackListener peer(
        ListenerScript{true, false, qovra_test::HttpReplyText(200, "OK", body), true});
    const std::string url = peer.Origin() + "/client/contacts_uzc.ecx";
    TMemoryStream stream;
    const auto to_stream = qovra_test::DownloadWith(kind, qovra::TConnOpts(), url, stream);
    ASSERT_TRUE(to_stream.ok) << to_stream.error;
    EXPECT_TRUE(stream.Data() == body);

    const fs::path file = dir_ / "contacts.ecx";
    fs::remove(file);
    const auto to_file = qovra_test::DownloadFileWith(kind, qovra::TConnOpts(), url, file.string());
    ASSERT_TRUE(to_file.ok) << to_file.error;
    EXPECT_TRUE(ReadFile(file) == body);
    EXPECT_EQ(FolderNames(dir_), std::vector<std::string>{"contacts.ecx"});
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
}

struct FailCase {
  const char* name;
  ListenerScript script;
  const char* error;  // the text the user is told
};

TEST_F(HttpDownload, FailuresLeaveNothingBehind) {
  qovra::SetHttpTimeouts({2000, 1024, 2});
  // libcurl averages the speed over a few seconds: a stall after a few
  // bytes trips the limit sooner than one after many.
  const std::string partial =
      "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(3000, 'p');
  const std::string trickle = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nppp";
  const FailCase cases[] = {
      {"404",
       {true, false, qovra_test::HttpReplyText(404, "Not Found", "no such file"), true},
       "msgHttpStatus 127.0.0.1 404"},
      {"500",
       {true, false, qovra_test::HttpReplyText(500, "Oops", "err"), true},
       "msgHttpStatus 127.0.0.1 500"},
      {"204",
       {true, false, "HTTP/1.1 204 No Content\r\n\r\n", true},
       "msgHttpStatus 127.0.0.1 204"},
      {"dropped_mid_body", {true, false, partial, true}, "msgHttpConnectionLost 127.0.0.1"},
      {"stalled_mid_body", {true, false, trickle, false}, "msgHttpTimedOut 127.0.0.1"},
      {"never_answers", {false, false, "", false}, "msgHttpTimedOut 127.0.0.1"},
      {"garbage", {true, false, "this is no HTTP\r\n\r\n", true}, "msgHttpBadReply 127.0.0.1"},
  };
  for (const FailCase& c : cases) {
    for (ClientKind kind : kKinds) {
      SCOPED_TRACE(std::string(c.name) + " " + qovra_test::KindName(kind));
      LoopbackListener peer(c.script);
      const std::string url = peer.Origin() + "/client/contacts_ru.ecx";

      TMemoryStream stream("kept");
      ASSERT_EQ(stream.Seek(0, qovra::SeekOrigin::End), 4);
      const auto start = std::chrono::steady_clock::now();
      const auto s = qovra_test::DownloadWith(kind, qovra::TConnOpts(), url, stream);
      EXPECT_FALSE(s.ok);
      EXPECT_EQ(stream.Data(), "kept");
      EXPECT_EQ(stream.Position(), 4);
      EXPECT_EQ(s.error, c.error);

      const fs::path file = dir_ / "contacts_ru.ecx";
      const auto f = qovra_test::DownloadFileWith(kind, qovra::TConnOpts(), url, file.string());
      EXPECT_FALSE(f.ok);
      EXPECT_TRUE(FolderNames(dir_).empty());

      // Two attempts, each ended by the 2-second low-speed limit at worst.
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    }
  }
}

TEST_F(HttpDownload, FailureLeavesAnExistingFileAsItWas) {
  const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nabc";
  const ListenerScript scripts[] = {
      {true, false, qovra_test::HttpReplyText(404, "Not Found", "no such file"), true},
      {true, false, partial, true},
  };
  for (const ListenerScript& script : scripts) {
    for (ClientKind kind : kKinds) {
      SCOPED_TRACE(qovra_test::KindName(kind));
      LoopbackListener peer(script);
      const fs::path file = dir_ / "contacts_ru.ecx";
      { std::ofstream(file) << "old"; }
      EXPECT_FALSE(qovra_test::DownloadFileWith(kind, qovra::TConnOpts(),
                                                peer.Origin() + "/client/contacts_ru.ecx",
                                                file.string())
                       .ok);
      EXPECT_EQ(ReadFile(file), "old");
      EXPECT_EQ(FolderNames(dir_), std::vector<std::string>{"contacts_ru.ecx"});
    }
  }
}

TEST_F(HttpDownload, StalledServerAbortsAPostWithinTheLimit) {
  qovra::SetHttpTimeouts({2000, 1024, 2});
  const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nabc";
  const ListenerScript scripts[] = {
      {false, false, "", false},      // accepts and never reads or answers
      {true, false, "", false},       // reads the request, never answers
      {true, false, partial, false},  // stops in the middle of the reply
  };
  for (const ListenerScript& script : scripts) {
    for (ClientKind kind : kKinds) {
      SCOPED_TRACE(qovra_test::KindName(kind));
      LoopbackListener peer(script);
      TMemoryStream header(std::string(300, 'h'));
      TMemoryStream reply;
      const auto start = std::chrono::steady_clock::now();
      const auto out = qovra_test::PostWith(kind, qovra::TConnOpts(), peer.Origin() + "/qovra4/",
                                            {qovra_test::MakePart("header", header)}, reply);
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_FALSE(out.ok);
      EXPECT_EQ(out.error, "msgHttpTimedOut 127.0.0.1");
      EXPECT_GE(took, std::chrono::milliseconds(1500));
      EXPECT_LT(took, std::chrono::seconds(6));
      EXPECT_EQ(reply.Data(), "");
    }
  }
}

TEST_F(HttpDownload, SlowButMovingTransferGoesThrough) {
  // 3000 bytes a second stays above a limit of 1024 bytes a second for 2 s.
  qovra::SetHttpTimeouts({2000, 1024, 2});
  const std::string body(9000, 's');
  // A hand-rolled trickling peer: one 600-byte piece every 200 ms.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const uint16_t port = ntohs(addr.sin_port);
  std::thread peer([fd, &body] {
    const int c = ::accept(fd, nullptr, nullptr);
    if (c < 0) return;
    char buf[4096];
    (void)::recv(c, buf, sizeof buf, 0);
    const std::string reply = qovra_test::HttpReplyText(200, "OK", body);
    for (size_t at = 0; at < reply.size(); at += 600) {
      const std::string piece = reply.substr(at, 600);
      if (::send(c, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ::close(c);
  });
  TMemoryStream stream;
  const auto out =
      qovra_test::DownloadWith(ClientKind::IE, qovra::TConnOpts(),
                               "http://127.0.0.1:" + std::to_string(port) + "/x", stream);
  peer.join();
  ::close(fd);
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(stream.Data().size(), body.size());
}

TEST_F(HttpDownload, ConnectTimeOutEndsAHangingConnect) {
  // A listener that never accepts, its queue filled: further handshakes get
  // no answer, so the client's connect hangs until its time-out.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 0), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    (void)::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(c);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  qovra::SetHttpTimeouts({700, 1024, 60});
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/qovra4/";
  for (ClientKind kind : kKinds) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    TMemoryStream page;
    const auto start = std::chrono::steady_clock::now();
    const auto out = qovra_test::DownloadWith(kind, qovra::TConnOpts(), url, page);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, "msgHttpTimedOut 127.0.0.1");
    EXPECT_GE(took, std::chrono::milliseconds(600));
    EXPECT_LT(took, std::chrono::seconds(5));
  }
  for (int c : fillers) ::close(c);
  ::close(fd);
}

TEST_F(HttpDownload, RefusedConnectionIsAnError) {
  // A port that was just free: nothing listens there.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/qovra4/";
  ::close(fd);
  for (ClientKind kind : kKinds) {
    SCOPED_TRACE(qovra_test::KindName(kind));
    TMemoryStream header("h");
    TMemoryStream reply;
    const auto out = qovra_test::PostWith(kind, qovra::TConnOpts(), url,
                                          {qovra_test::MakePart("header", header)}, reply);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, "msgHttpConnectFailed 127.0.0.1");
  }
}

}  // namespace

// The exchange server's HTTP side against hostile and slow clients: request
// heads read alone, then the running server over raw sockets: bodies over
// the cap refused from the headers,
// connections that trickle or stall dropped by the request deadline while
// other clients are served, and the data folder kept to its owner.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "exchange_pki.h"
#include "exchange_test_client.h"
#include "http_head.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using qovra_test::ExchangePki;
using qovra_test::ExchangeServer;
using qovra_test::ExchangeServerOptions;

// A raw connection to the server.
class RawConnection {
 public:
  explicit RawConnection(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool Send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Whether the server has closed the connection, without waiting.
  bool ClosedByPeer() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    char c = 0;
    return ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
  }
  // What arrives within timeout_ms; closed is set when the server closed
  // the connection (end of stream or reset).
  std::string Receive(int timeout_ms, bool& closed) {
    std::string in;
    closed = false;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      in.append(buf, static_cast<size_t>(n));
    }
    return in;
  }

 private:
  int fd_ = -1;
};

std::string PostHead(const std::string& framing) {
  return "POST /qovra4/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
         "boundary=b\r\n" +
         framing + "\r\n";
}

int StatusOf(const std::string& reply) {
  return reply.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(reply.c_str() + 9) : 0;
}

// Heads of every shape the server must refuse, each with the status it
// refuses with, and the framings it takes.
TEST(ExchangeHttpHead, RefusesAmbiguousAndMalformedHeads) {
  const std::string line = "POST /qovra4/ HTTP/1.1\r\n";
  const struct {
    const char* name;
    std::string head;
    int status;
  } cases[] = {
      {"plain", line + "Content-Length: 5\r\n\r\n", 0},
      {"chunked", line + "Transfer-Encoding: chunked\r\n\r\n", 0},
      {"length repeated alike", line + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n", 0},
      {"lengths differ", line + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", 400},
      {"both framings", line + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"length not a number", line + "Content-Length: 5x\r\n\r\n", 400},
      {"length negative", line + "Content-Length: -1\r\n\r\n", 400},
      {"length too long", line + "Content-Length: 99999999999999999999\r\n\r\n", 400},
      {"other coding", line + "Transfer-Encoding: gzip, chunked\r\n\r\n", 501},
      {"space before colon", line + "Content-Length : 5\r\n\r\n", 400},
      {"header without colon", line + "Garbage\r\n\r\n", 400},
      {"no version", "POST /qovra4/\r\n\r\n", 400},
      {"not HTTP/1", "POST /qovra4/ HTTP/2.0\r\n\r\n", 400},
      {"target not a path", "POST qovra4 HTTP/1.1\r\n\r\n", 400},
  };
  for (const auto& c : cases) {
    exchange::RequestHead h;
    EXPECT_EQ(exchange::ParseHead(c.head, h), c.status) << c.name;
  }
  exchange::RequestHead h;
  ASSERT_EQ(exchange::ParseHead("GET /client/contacts_ru.ecx?x=1 HTTP/1.0\r\nCONNECTION: "
                                "Keep-Alive\r\nExpect: 100-continue\r\n\r\n",
                                h),
            0);
  EXPECT_EQ(h.method, "GET");
  EXPECT_EQ(h.path, "/client/contacts_ru.ecx");
  EXPECT_TRUE(h.keep_alive);
  EXPECT_TRUE(h.expect_continue);
  uint64_t size = 0;
  EXPECT_TRUE(exchange::ParseHexSize("1A;ext=1", size));
  EXPECT_EQ(size, 26u);
  EXPECT_FALSE(exchange::ParseHexSize("1000000000000000", size));  // 16 digits
  EXPECT_FALSE(exchange::ParseHexSize("-1", size));
}

// A body announced over the cap is refused from the headers alone: the
// client has sent none of it when 413 comes. A chunked body is refused once
// it passes the cap; a body at the cap is read and answered.
TEST(ExchangeHttp, BodiesOverTheCapAreRefusedWith413) {
  ExchangeServer server;
  ASSERT_TRUE(server.Start(std::vector<std::string>{"--max-body", "1048576"})) << server.error();
  const std::string chunk_header = "100000\r\n";  // 1 MiB
  const std::string one_mib(size_t{1} << 20, 'x');
  const struct {
    const char* name;
    std::string request;
    int status;
  } cases[] = {
      {"announced one byte over", PostHead("Content-Length: 1048577\r\n"), 413},
      {"announced far over", PostHead("Content-Length: 99999999999\r\n"), 413},
      {"chunked past the cap",
       PostHead("Transfer-Encoding: chunked\r\n") + chunk_header + one_mib + "\r\n" + "1\r\nx\r\n",
       413},
      {"at the cap", PostHead("Content-Length: 1048576\r\n") + one_mib, 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawConnection conn(server.Port());
    ASSERT_TRUE(conn.ok());
    ASSERT_TRUE(conn.Send(c.request));
    bool closed = false;
    const std::string reply = conn.Receive(5000, closed);
    EXPECT_EQ(StatusOf(reply), c.status) << reply.substr(0, 200);
  }
}

class ExchangeHttpDeadlines : public ::testing::Test {
 protected:
  void SetUp() override {
    pki_.AddUser("alice@localhost");
    ExchangeServerOptions o = pki_.Options();
    o.seed_accounts = {"alice@localhost:pa"};
    o.extra_args = {"--request-deadline", "2"};
    ASSERT_TRUE(server_.Start(o)) << server_.error();
  }

  // A full login over new connections.
  bool LogIn() {
    xs_test::TestClient c(server_.Port(), pki_.User("alice@localhost").keys);
    if (!c.Handshake(false)) return false;
    xs_test::SessionReply r;
    c.Request(c.LoginXml("alice", "pa", true), r);
    return r.res == 1;
  }

  ExchangePki pki_;
  ExchangeServer server_;
};

// Connections that send their request a line at a time, announce a body
// and send none, or send nothing at all, are closed once their deadline
// passes however often they send; meanwhile other clients log in. (The
// bound below is a hang guard, far above the 2 s deadline.)
TEST_F(ExchangeHttpDeadlines, SlowConnectionsAreDroppedWhileOthersAreServed) {
  struct Slow {
    const char* name;
    std::string first;  // sent at once
    std::string each;   // sent every 300 ms after it
  };
  const std::vector<Slow> kinds = {
      {"header lines trickle", "POST /qovra4/ HTTP/1.1\r\n", "X-Slow: 1\r\n"},
      {"body announced, trickles", PostHead("Content-Length: 100000\r\n"), "x"},
      {"body announced, never sent", PostHead("Content-Length: 100000\r\n"), ""},
      {"nothing at all", "", ""},
  };
  std::vector<std::unique_ptr<RawConnection>> conns;
  for (const Slow& k : kinds) {
    conns.push_back(std::make_unique<RawConnection>(server_.Port()));
    ASSERT_TRUE(conns.back()->ok());
    if (!k.first.empty()) {
      ASSERT_TRUE(conns.back()->Send(k.first));
    }
  }
  std::vector<bool> closed(kinds.size(), false);
  int logins = 0;
  const Clock::time_point guard = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < guard && std::find(closed.begin(), closed.end(), false) != closed.end()) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      if (closed[i]) continue;
      if (!kinds[i].each.empty()) conns[i]->Send(kinds[i].each);
      bool gone = false;
      conns[i]->Receive(10, gone);
      closed[i] = gone;
    }
    if (LogIn()) ++logins;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  for (size_t i = 0; i < kinds.size(); ++i) EXPECT_TRUE(closed[i]) << kinds[i].name;
  EXPECT_GT(logins, 0);
  EXPECT_TRUE(LogIn());
}

// Far more connections than the server has workers send their heads a
// byte every 100 ms, as slowly as the deadline lets them; a login is
// answered meanwhile (the client gives it 10 s, the slow heads may take
// 30 s).
TEST(ExchangeHttp, LoginsAreAnsweredBesideThousandsOfSlowHeads) {
  constexpr size_t kSlow = 2000;
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_max != RLIM_INFINITY && files.rlim_max < kSlow + 256)
    GTEST_SKIP() << "this process may open only " << files.rlim_max << " files";

  ExchangePki pki;
  pki.AddUser("alice@localhost");
  ExchangeServerOptions o = pki.Options();
  o.seed_accounts = {"alice@localhost:pa"};
  o.extra_args = {"--request-deadline", "30"};
  ExchangeServer server;
  ASSERT_TRUE(server.Start(o)) << server.error();

  std::vector<std::unique_ptr<RawConnection>> slow;
  for (size_t i = 0; i < kSlow; ++i) {
    slow.push_back(std::make_unique<RawConnection>(server.Port()));
    ASSERT_TRUE(slow.back()->ok()) << i;
  }
  // Sends each connection the next byte of its head every 100 ms; stops
  // when the test ends, however it ends.
  struct Trickle {
    std::atomic<bool> stop{false};
    std::thread thread;
    ~Trickle() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } trickle;
  trickle.thread = std::thread([&slow, &trickle] {
    const std::string head = PostHead("Content-Length: 0\r\n");
    for (size_t at = 0; !trickle.stop.load() && at < head.size(); ++at) {
      for (auto& c : slow) c->Send(head.substr(at, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  // Every slow connection has been accepted and has started its head.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    xs_test::TestClient c(server.Port(), pki.User("alice@localhost").keys);
    std::string why;
    ASSERT_TRUE(c.Handshake(false, &why)) << why;
    xs_test::SessionReply r;
    c.Request(c.LoginXml("alice", "pa", true), r);
    EXPECT_EQ(r.res, 1) << r.plain << r.error;
  }
  trickle.stop = true;
  trickle.thread.join();
  // None of them was dropped to make room: each still has its connection.
  size_t open = 0;
  for (auto& c : slow)
    if (!c->ClosedByPeer()) ++open;
  EXPECT_EQ(open, kSlow);
}

// A server allowed few descriptors keeps fewer connections waiting for
// their heads and closes the one that has waited longest to take a new
// one, so a login still gets through.
TEST(ExchangeHttp, FewDescriptorsTheLongestWaitingHeadsMakeRoom) {
  ExchangePki pki;
  pki.AddUser("alice@localhost");
  ExchangeServerOptions o = pki.Options();
  o.seed_accounts = {"alice@localhost:pa"};
  ExchangeServer server;
  ASSERT_TRUE(server.Start(o)) << server.error();
  // Below what the workers keep in reserve: the fewest waiting, 64.
  const rlimit few{512, 512};
  ASSERT_EQ(prlimit(server.Pid(), RLIMIT_NOFILE, &few, nullptr), 0);

  constexpr size_t kSlow = 400;
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (size_t i = 0; i < kSlow; ++i) {
    slow.push_back(std::make_unique<RawConnection>(server.Port()));
    ASSERT_TRUE(slow.back()->ok()) << i;
    ASSERT_TRUE(slow.back()->Send("POST /qovra4/ HTTP/1.1\r\n"));
    // In small groups, so they are accepted in the order they came.
    if (i % 20 == 19) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  xs_test::TestClient c(server.Port(), pki.User("alice@localhost").keys);
  std::string why;
  ASSERT_TRUE(c.Handshake(false, &why)) << why;
  xs_test::SessionReply r;
  c.Request(c.LoginXml("alice", "pa", true), r);
  EXPECT_EQ(r.res, 1) << r.plain << r.error;
  std::string closed;  // one mark per connection, oldest first
  for (const auto& s : slow) closed += s->ClosedByPeer() ? 'x' : '.';
  // The oldest were closed, the newest kept: as many as the cap holds,
  // less the few the login's own connections took.
  const size_t kept = closed.size() - std::min(closed.find('.'), closed.size());
  EXPECT_EQ(closed.find('x', closed.size() - kept), std::string::npos) << closed;
  EXPECT_LE(kept, 64u) << closed;
  EXPECT_GE(kept, 60u) << closed;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A data folder someone left open is closed to the server's user, with the
// database, the mail folder and the folder bodies are streamed to.
TEST(ExchangeHttp, DataFolderIsOwnerOnly) {
  qovra::testing::ScratchDir dir;
  const std::string data = dir.File("data");
  ASSERT_EQ(::mkdir(data.c_str(), 0755), 0);
  ASSERT_TRUE(std::ofstream(data + "/server.db").good());
  ASSERT_EQ(::chmod((data + "/server.db").c_str(), 0644), 0);
  ExchangeServer server;
  ASSERT_TRUE(server.Start(std::vector<std::string>{"--data", data})) << server.error();
  EXPECT_EQ(ModeOf(data), 0700u);
  EXPECT_EQ(ModeOf(data + "/server.db"), 0600u);
  EXPECT_EQ(ModeOf(data + "/mail"), 0700u);
  EXPECT_EQ(ModeOf(data + "/tmp"), 0700u);
}

}  // namespace

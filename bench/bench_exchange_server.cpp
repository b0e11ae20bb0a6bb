// The local exchange server under load, as its own process:
//   1. its peak resident memory while one mail of N MiB (1024) is uploaded
//      (secure mode, streamed from here) and downloaded, and both rates next
//      to one hash pass over the same bytes in this process; then the
//      download of a fast-mode mail (at most 256 MiB), which the server
//      enciphers as it sends it;
//   2. logins per second (handshake and command 161) with 1 and with 8
//      parallel clients, and their ratio;
//   3. login latency while 64 slow connections (one header line a second)
//      and eight 255 MiB junk uploads run;
//   4. login latency beside 2,000 connections that send their head a byte
//      every 100 ms;
//   5. the server's resident memory over 100,000 logins (a server whose
//      sessions end after 5 idle seconds) and over 100,000 handshakes that
//      never log in (sessions end after 20 idle seconds, so the table fills
//      and its oldest give way), each time again once they have all ended.
//
//   bench_exchange_server [MiB] [seconds per login run] [logins]
//   bench_exchange_server mail MiB                (1. only)
//   bench_exchange_server logins CLIENTS SECONDS  (2. only)
//   bench_exchange_server sessions COUNT TIMEOUT IDLE [handshakes]  (5. only)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_peak_memory.h"
#include "server/exchange_pki.h"
#include "server/exchange_test_client.h"
#include "support/exchange_server.h"
#include "tevqa.h"

namespace {

using Clock = std::chrono::steady_clock;
using xs_test::SessionReply;
using xs_test::TestClient;

constexpr const char* kUuid = "0123456789ABCDEF0123456789ABCDEF";

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// VmHWM or VmRSS of a process, in KiB.
long StatusKiB(pid_t pid, const std::string& field) {
  return qovra_bench::StatusKiB(field, "/proc/" + std::to_string(pid) + "/status");
}

// CPU seconds a process used so far (user and system).
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i)
    if (i == 14 || i == 15) ticks += std::atof(f.c_str());
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = 0;
  in >> load;
  return load;
}

// Seconds one hash pass over size bytes of the upload's pattern takes here.
double HashAlone(uint64_t size) {
  std::string chunk(1 << 20, '\0');
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((i * 131) >> 3);
  alignas(8) unsigned char ctx[TEVQA_HASH_CONTEXT_SIZE];
  unsigned char out[32];
  const Clock::time_point t0 = Clock::now();
  UZDST_HASH_init(ctx, nullptr);
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - done));
    UZDST_HASH_update(ctx, chunk.data(), static_cast<uint32_t>(n));
    done += n;
  }
  UZDST_HASH_final(ctx, out);
  return Seconds(Clock::now() - t0);
}

// Lets this process open as many connections as the system allows.
void RaiseFileLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool SendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads a reply; keeps at most keep bytes of its body, counts the rest,
// and hashes the body as it arrives when hash_ctx is given (an open tevqa
// hash context), as a client checking the signatures does.
bool ReadReply(int fd, std::string& body, uint64_t& length, size_t keep, void* hash_ctx = nullptr) {
  std::string in;
  char buf[1 << 16];
  size_t head_end = std::string::npos;
  while (head_end == std::string::npos) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
    head_end = in.find("\r\n\r\n");
  }
  std::string head = in.substr(0, head_end);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t cl = head.find("content-length:");
  if (cl == std::string::npos) return false;
  length = std::strtoull(head.c_str() + cl + 15, nullptr, 10);
  body = in.substr(head_end + 4);
  uint64_t got = body.size();
  if (hash_ctx) UZDST_HASH_update(hash_ctx, body.data(), static_cast<uint32_t>(body.size()));
  if (body.size() > keep) body.resize(keep);
  while (got < length) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    if (hash_ctx) UZDST_HASH_update(hash_ctx, buf, static_cast<uint32_t>(n));
    if (body.size() < keep) body.append(buf, std::min(static_cast<size_t>(n), keep - body.size()));
    got += static_cast<uint64_t>(n);
  }
  return true;
}

// A POST of the multipart body header part + content of content_size bytes
// generated in chunks; the reply body is kept whole when small.
bool StreamPost(uint16_t port, const std::string& header_part, uint64_t content_size,
                std::string& reply) {
  const std::string b = xs_test::kBoundary;
  const std::string prefix =
      "--" + b +
      "\r\nContent-Disposition: form-data; name=\"header\"; filename=\"-\"\r\n"
      "Content-Type: qovra/enc-data\r\n\r\n" +
      header_part + "\r\n--" + b +
      "\r\nContent-Disposition: form-data; name=\"content\"; "
      "filename=\"-\"\r\nContent-Type: qovra/enc-data\r\n\r\n";
  const std::string suffix = "\r\n--" + b + "--";
  const uint64_t total = prefix.size() + content_size + suffix.size();
  const int fd = Connect(port);
  if (fd < 0) return false;
  const std::string head =
      "POST /qovra4/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
      "multipart/form-data; boundary=" +
      b + "\r\nContent-Length: " + std::to_string(total) + "\r\n\r\n";
  std::string chunk(1 << 20, '\0');
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((i * 131) >> 3);
  bool ok = SendAll(fd, head.data(), head.size()) && SendAll(fd, prefix.data(), prefix.size());
  for (uint64_t done = 0; ok && done < content_size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), content_size - done));
    ok = SendAll(fd, chunk.data(), n);
    done += n;
  }
  ok = ok && SendAll(fd, suffix.data(), suffix.size());
  uint64_t length = 0;
  ok = ok && ReadReply(fd, reply, length, 1 << 20);
  ::close(fd);
  return ok;
}

std::string SignContainer(const qovra_test::Party& sender) {
  const std::string b = "----------------AbCdEfGhIjKlMnOp";
  auto section = [&b](const std::string& name, const std::string& data) {
    return "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\nContent-Size: " + std::to_string(data.size()) + "\r\n\r\n" + data;
  };
  return std::string("MailUID: ") + kUuid + "\r\nSignedDate: 2026-12-01 10:00:00\r\n" +
         "Content-Type: multipart/form-data; boundary=" + b + "\r\n" +
         section("sign", std::string(160, 'S')) +
         section("cer0", std::string(sender.cert.begin(), sender.cert.end())) +
         section("dhk", std::string(128, 'D')) + "\r\n--" + b + "--";
}

bool LoginWith(TestClient& c, const std::string& login) {
  if (!c.Handshake(false)) return false;
  SessionReply r;
  c.Request(c.LoginXml(login, "secret", true), r);
  return r.res == 1;
}

bool Login(uint16_t port, const keytool::KeyPair& keys, const std::string& login) {
  TestClient c(port, keys);
  return LoginWith(c, login);
}

class Bench {
 public:
  bool Start() {
    pki_.AddUser("alice@localhost");
    pki_.AddUser("bob@localhost");
    return Restart();
  }
  // A fresh server process: its session table empty (the login runs fill
  // it with sessions that stay for the 30-minute idle time, and a full
  // table refuses further logins).
  bool Restart() {
    qovra_test::ExchangeServerOptions o = pki_.Options();
    o.seed_accounts = {"alice@localhost:secret", "bob@localhost:secret"};
    if (!server_.Start(o)) {
      std::fprintf(stderr, "exchange server: %s\n", server_.error().c_str());
      return false;
    }
    return true;
  }

  const keytool::KeyPair& Keys(const char* address) { return pki_.User(address).keys; }

  void Memory(uint64_t mib) {
    const uint64_t size = mib << 20;
    const pid_t pid = server_.Pid();
    TestClient alice(server_.Port(), Keys("alice@localhost"));
    if (!LoginWith(alice, "alice")) {
      std::printf("memory: alice cannot log in\n");
      return;
    }
    const long before = StatusKiB(pid, "VmHWM:");
    const std::string xml =
        "<request><cmd val=\"164\"/><from val=\"alice@localhost\"/><id val=\"" +
        std::string(kUuid) + "\"/><mode val=\"0\"/><size val=\"" + std::to_string(size) +
        "\"/><csize val=\"" + std::to_string(size) + "\"/><sign val=\"" +
        xs_test::B64(SignContainer(pki_.User("alice@localhost"))) +
        "\"/><flag val=\"9\"/><priority val=\"1\"/><nodec val=\"1\"/><emails><domain "
        "val=\"localhost\" prx=\"1\"><login val=\"bob\"/></domain></emails></request>";
    std::string raw;
    const Clock::time_point t0 = Clock::now();
    if (!StreamPost(server_.Port(), alice.Part(xml), size, raw)) {
      std::printf("memory: upload failed\n");
      return;
    }
    const double up = Seconds(Clock::now() - t0);
    SessionReply sent;
    xs_test::ReadSessionReply(raw, alice.server_record().data(), alice.key().data(),
                              reinterpret_cast<const uint8_t*>(alice.sid().data()), sent);
    const pugi::xml_node l =
        sent.doc.document_element().child("emails").child("domain").child("login");
    if (sent.res != 1 || std::string(l.attribute("ok").value()) != "1") {
      std::printf("memory: upload refused (%s%s)\n", sent.plain.c_str(), sent.error.c_str());
      return;
    }
    const long after_up = StatusKiB(pid, "VmHWM:");

    TestClient bob(server_.Port(), Keys("bob@localhost"));
    if (!LoginWith(bob, "bob")) return;
    const std::string get = "<request><cmd val=\"166\"/><uuid val=\"" + std::string(kUuid) +
                            "\"/><suid val=\"" + l.attribute("suid").value() + "\"/><ymbox val=\"" +
                            l.attribute("ymbox").value() + "\"/><skip val=\"1\"/></request>";
    // Twice: taking the bytes as they come, then hashing them as they come.
    const double down = TimedDownload(bob, get, size, /*hashing=*/false);
    const double down_hashing = TimedDownload(bob, get, size, /*hashing=*/true);
    if (down < 0 || down_hashing < 0) {
      std::printf("memory: download failed\n");
      return;
    }
    const long after_down = StatusKiB(pid, "VmHWM:");
    const double hash = HashAlone(size);
    std::printf("mail of %llu MiB: upload %.2f s (%.0f MB/s), download %.2f s (%.0f MB/s)\n",
                static_cast<unsigned long long>(mib), up, size / up / 1e6, down, size / down / 1e6);
    std::printf(
        "  next to one hash pass here (%.2f s, %.0f MB/s): upload %.2fx, download %.2fx, download "
        "hashed as it arrives %.2fx (%.2f s)\n",
        hash, size / hash / 1e6, hash / up, hash / down, hash / down_hashing, down_hashing);
    std::printf(
        "server peak memory: %.1f MiB before, %.1f MiB after upload, %.1f MiB after "
        "download (target under 64 MiB)\n",
        before / 1024.0, after_up / 1024.0, after_down / 1024.0);
  }

  // Seconds one download (command 166) of at least min_length bytes takes,
  // the reply read (and hashed as it arrives when hashing) to its end; -1
  // when it fails.
  double TimedDownload(TestClient& c, const std::string& get, uint64_t min_length, bool hashing) {
    const std::string body = xs_test::MultipartBody(c.Part(get));
    const int fd = Connect(server_.Port());
    const std::string head =
        "POST /qovra4/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "multipart/form-data; boundary=" +
        std::string(xs_test::kBoundary) + "\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n";
    std::string start;
    uint64_t length = 0;
    alignas(8) unsigned char ctx[TEVQA_HASH_CONTEXT_SIZE];
    UZDST_HASH_init(ctx, nullptr);
    const Clock::time_point t0 = Clock::now();
    const bool got = fd >= 0 && SendAll(fd, head.data(), head.size()) &&
                     SendAll(fd, body.data(), body.size()) &&
                     ReadReply(fd, start, length, 4096, hashing ? ctx : nullptr);
    const double seconds = Seconds(Clock::now() - t0);
    if (fd >= 0) ::close(fd);
    return got && length >= min_length ? seconds : -1;
  }

  // A fast-mode mail of mib MiB: the server enciphers it for the
  // downloading session as it sends it.
  void FastDownload(uint64_t mib) {
    const uint64_t size = mib << 20;
    TestClient alice(server_.Port(), Keys("alice@localhost"));
    TestClient bob(server_.Port(), Keys("bob@localhost"));
    if (!LoginWith(alice, "alice") || !LoginWith(bob, "bob")) return;
    const char* uuid = "00112233445566778899AABBCCDDEEFF";
    const std::string recipients =
        "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\" pbk=\"\"/></domain>"
        "</emails>";
    std::string package(size, '\0');
    for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<char>((i * 131) >> 3);
    package += recipients;
    const std::string content = xs_test::CbcEncrypt(
        alice.key().data(), reinterpret_cast<const uint8_t*>(alice.sid().data()), package);
    std::string().swap(package);
    const std::string sign = SignContainer(pki_.User("alice@localhost"));
    const std::string xml =
        "<request><cmd val=\"164\"/><from val=\"alice@localhost\"/><id val=\"" + std::string(uuid) +
        "\"/><mode val=\"1\"/><size val=\"" + std::to_string(size) + "\"/><csize val=\"" +
        std::to_string(size + recipients.size()) + "\"/><sign val=\"" +
        xs_test::B64(std::string(sign).replace(sign.find(kUuid), 32, uuid)) +
        "\"/><flag val=\"9\"/><priority val=\"1\"/><nodec val=\"1\"/></request>";
    SessionReply sent;
    alice.Request(xml, sent, &content);
    const pugi::xml_node l =
        sent.doc.document_element().child("emails").child("domain").child("login");
    if (sent.res != 1 || std::string(l.attribute("ok").value()) != "1") {
      std::printf("fast mail: upload refused (%s%s)\n", sent.plain.c_str(), sent.error.c_str());
      return;
    }
    const std::string get = "<request><cmd val=\"166\"/><uuid val=\"" + std::string(uuid) +
                            "\"/><suid val=\"" + l.attribute("suid").value() + "\"/><ymbox val=\"" +
                            l.attribute("ymbox").value() + "\"/><skip val=\"1\"/></request>";
    const double down = TimedDownload(bob, get, size, /*hashing=*/false);
    const double hash = HashAlone(size);
    if (down < 0) {
      std::printf("fast mail: download failed\n");
      return;
    }
    std::printf(
        "fast-mode mail of %llu MiB, enciphered as it is sent: download %.2f s (%.0f MB/s), "
        "%.2fx one hash pass here (%.2f s)\n",
        static_cast<unsigned long long>(mib), down, size / down / 1e6, hash / down, hash);
  }

  double LoginsPerSecond(int clients, double seconds) {
    std::atomic<bool> stop{false};
    std::atomic<long> done{0}, failed{0};
    std::vector<std::thread> threads;
    const double server_cpu0 = CpuSeconds(server_.Pid()), own_cpu0 = CpuSeconds(getpid());
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < clients; ++i) {
      threads.emplace_back([&] {
        while (!stop.load()) {
          if (Login(server_.Port(), Keys("alice@localhost"), "alice"))
            ++done;
          else
            ++failed;
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (std::thread& t : threads) t.join();
    const double wall = Seconds(Clock::now() - t0);
    const double rate = done.load() / wall;
    std::printf(
        "logins/s with %d client%s: %.1f (%ld failed); cores busy: server %.2f, clients "
        "%.2f; machine load average %.1f\n",
        clients, clients == 1 ? "" : "s", rate, failed.load(),
        (CpuSeconds(server_.Pid()) - server_cpu0) / wall, (CpuSeconds(getpid()) - own_cpu0) / wall,
        LoadAverage());
    return rate;
  }

  void LatencyUnderLoad() {
    const uint16_t port = server_.Port();
    std::atomic<bool> stop{false};
    std::atomic<long> uploads{0}, slow_dropped{0};
    std::vector<std::thread> load;
    // 64 slow connections: a request line, then one header line a second.
    load.emplace_back([&] {
      std::vector<int> fds;
      for (int i = 0; i < 64; ++i) {
        const int fd = Connect(port);
        if (fd < 0) continue;
        const std::string line = "POST /qovra4/ HTTP/1.1\r\n";
        SendAll(fd, line.data(), line.size());
        fds.push_back(fd);
      }
      while (!stop.load()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        for (int& fd : fds) {
          if (fd < 0) continue;
          const std::string line = "X-Slow: 1\r\n";
          if (!SendAll(fd, line.data(), line.size())) {
            ::close(fd);
            ++slow_dropped;
            // Come back: the load stays at 64.
            fd = Connect(port);
            const std::string first = "POST /qovra4/ HTTP/1.1\r\n";
            if (fd >= 0) SendAll(fd, first.data(), first.size());
          }
        }
      }
      for (int fd : fds)
        if (fd >= 0) ::close(fd);
    });
    // Eight junk uploads of 255 MiB, again and again.
    for (int i = 0; i < 8; ++i) {
      load.emplace_back([&] {
        while (!stop.load()) {
          std::string reply;
          StreamPost(port, std::string(500, 'J'), uint64_t{255} << 20, reply);
          ++uploads;
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<double> ms;
    int failed = 0;
    // Past the server's 10 s request deadline, so slow connections are
    // dropped (and come back) while logins are measured.
    for (int i = 0; i < 24; ++i) {
      const Clock::time_point t0 = Clock::now();
      if (!Login(port, Keys("bob@localhost"), "bob")) ++failed;
      ms.push_back(Seconds(Clock::now() - t0) * 1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const long peak = StatusKiB(server_.Pid(), "VmHWM:");
    stop = true;
    for (std::thread& t : load) t.join();
    std::sort(ms.begin(), ms.end());
    std::printf(
        "login under 64 slow connections + 8 x 255 MiB uploads: median %.0f ms, max %.0f "
        "ms (target under 1000 ms), %d failed; %ld uploads done, %ld slow connections "
        "dropped; server peak memory %.1f MiB\n",
        ms[ms.size() / 2], ms.back(), failed, uploads.load(), slow_dropped.load(), peak / 1024.0);
  }

  // Login latency beside count connections that each send their head a
  // byte every 100 ms (slower than any head is read).
  void LatencyBesideSlowHeads(size_t count) {
    RaiseFileLimit();
    const uint16_t port = server_.Port();
    std::vector<int> fds;
    for (size_t i = 0; i < count; ++i) {
      const int fd = Connect(port);
      if (fd >= 0) fds.push_back(fd);
    }
    std::atomic<bool> stop{false};
    std::atomic<long> dropped{0};
    std::thread trickle([&] {
      const std::string head =
          "POST /qovra4/ HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(200, 's') +
          "\r\n\r\n";
      for (size_t at = 0; !stop.load() && at < head.size(); ++at) {
        for (int& fd : fds) {
          if (fd >= 0 && ::send(fd, head.data() + at, 1, MSG_NOSIGNAL) != 1) {
            ::close(fd);
            fd = -1;
            ++dropped;
          }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<double> ms;
    int failed = 0;
    // Within the server's 10 s head deadline: the slow heads all wait.
    for (int i = 0; i < 20; ++i) {
      const Clock::time_point t0 = Clock::now();
      if (!Login(port, Keys("bob@localhost"), "bob")) ++failed;
      ms.push_back(Seconds(Clock::now() - t0) * 1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    stop = true;
    trickle.join();
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
    std::sort(ms.begin(), ms.end());
    std::printf(
        "login beside %zu heads sent a byte every 100 ms: median %.0f ms, max %.0f ms (target "
        "under 1000 ms), %d failed; %ld of the slow connections closed by the server\n",
        fds.size(), ms[ms.size() / 2], ms.back(), failed, dropped.load());
  }

  // The resident memory of a server of its own while clients log in (or
  // only shake hands) count times with 8 parallel clients, then after
  // idle_wait seconds of nothing.
  void MemoryOverSessions(long count, bool log_in, int session_timeout, int idle_wait) {
    qovra_test::ExchangeServerOptions o = pki_.Options();
    o.seed_accounts = {"alice@localhost:secret"};
    o.session_timeout = session_timeout;
    qovra_test::ExchangeServer server;
    if (!server.Start(o)) {
      std::printf("sessions: %s\n", server.error().c_str());
      return;
    }
    const pid_t pid = server.Pid();
    const std::string timeout =
        session_timeout > 0 ? "sessions end after " + std::to_string(session_timeout) + " idle s"
                            : "the server's default session timeout and table";
    std::printf("%s %ld times, 8 clients (%s):\n",
                log_in ? "log in" : "shake hands without logging in", count, timeout.c_str());
    std::printf("  server resident memory at start: %.1f MiB (anonymous %.1f MiB)\n",
                StatusKiB(pid, "VmRSS:") / 1024.0, StatusKiB(pid, "RssAnon:") / 1024.0);
    std::atomic<long> next{0}, done{0}, failed{0};
    std::vector<std::thread> threads;
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&] {
        while (next++ < count) {
          TestClient c(server.Port(), Keys("alice@localhost"));
          const bool ok = log_in ? LoginWith(c, "alice") : c.Handshake(false);
          ++(ok ? done : failed);
        }
      });
    }
    for (long mark = count / 10; mark <= count; mark += count / 10) {
      while (done.load() + failed.load() < mark)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::printf("  after %6ld: %.1f MiB (%.0f s, %ld failed)\n", mark,
                  StatusKiB(pid, "VmRSS:") / 1024.0, Seconds(Clock::now() - t0), failed.load());
      std::fflush(stdout);
    }
    for (std::thread& t : threads) t.join();
    if (idle_wait > 0) {
      std::this_thread::sleep_for(std::chrono::seconds(idle_wait));
      std::printf("  after %d idle s: %.1f MiB (anonymous %.1f MiB)\n", idle_wait,
                  StatusKiB(pid, "VmRSS:") / 1024.0, StatusKiB(pid, "RssAnon:") / 1024.0);
    }
    std::printf("  server peak: %.1f MiB\n", StatusKiB(pid, "VmHWM:") / 1024.0);
  }

 private:
  qovra_test::ExchangePki pki_;
  qovra_test::ExchangeServer server_;
};

}  // namespace

int main(int argc, char** argv) {
  // "mail MIB": only the upload and download of one mail (for profiles).
  if (argc > 2 && std::string(argv[1]) == "mail") {
    Bench bench;
    if (!bench.Start()) return 1;
    bench.Memory(std::strtoull(argv[2], nullptr, 10));
    bench.FastDownload(std::min<uint64_t>(std::strtoull(argv[2], nullptr, 10), 256));
    return 0;
  }
  // "sessions COUNT TIMEOUT IDLE [handshakes]": only a memory run over
  // COUNT logins (or handshakes that never log in).
  if (argc > 4 && std::string(argv[1]) == "sessions") {
    Bench bench;
    if (!bench.Start()) return 1;
    const bool log_in = !(argc > 5 && std::string(argv[5]) == "handshakes");
    bench.MemoryOverSessions(std::atol(argv[2]), log_in, std::atoi(argv[3]), std::atoi(argv[4]));
    return 0;
  }
  // "logins N SECONDS": only the login run with N clients (for profiles).
  if (argc > 3 && std::string(argv[1]) == "logins") {
    Bench bench;
    if (!bench.Start()) return 1;
    bench.LoginsPerSecond(std::atoi(argv[2]), std::atof(argv[3]));
    return 0;
  }
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 4.0;
  Bench bench;
  if (!bench.Start()) return 1;
  bench.Memory(mib);
  bench.FastDownload(std::min<uint64_t>(mib, 256));
  if (!bench.Restart()) return 1;
  const double one = bench.LoginsPerSecond(1, seconds);
  if (!bench.Restart()) return 1;
  const double eight = bench.LoginsPerSecond(8, seconds);
  std::printf("logins/s ratio 8 : 1 = %.2fx (target at least 3x; %u cores)\n",
              one > 0 ? eight / one : 0.0, std::thread::hardware_concurrency());
  if (!bench.Restart()) return 1;
  bench.LatencyUnderLoad();
  if (!bench.Restart()) return 1;
  bench.LatencyBesideSlowHeads(2000);
  const long logins = argc > 3 ? std::atol(argv[3]) : 100000;
  bench.MemoryOverSessions(logins, /*log_in=*/true, /*session_timeout=*/5, /*idle_wait=*/8);
  bench.MemoryOverSessions(logins, /*log_in=*/false, /*session_timeout=*/20, /*idle_wait=*/23);
  return 0;
}

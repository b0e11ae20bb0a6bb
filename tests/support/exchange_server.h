// Runs the local exchange server for a test.
//
//   qovra_test::ExchangeServer server;
//   ASSERT_TRUE(server.Start());
//   ... post to server.Url() ...
//
// Start launches QOVRA_BIN_DIR/exchange-server on a free loopback port with
// a fresh temporary data folder and waits (at most 10 s) for its
// "listening on 127.0.0.1:PORT" line. Stop (also run by the destructor)
// ends it with SIGTERM, reaps it (SIGKILL after 5 s) and removes the data
// folder.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qovra_test {

// The exchange server's options beyond the port and data folder; empty
// fields are left out.
struct ExchangeServerOptions {
  std::string registry;                    // --registry DIR
  std::string authority;                   // --authority FILE (needed with registry)
  std::string server_cert;                 // --server-cert FILE
  std::string server_key;                  // --server-key FILE
  std::vector<std::string> seed_accounts;  // each "login@domain:password[:certfile]"
  int session_timeout = 0;                 // seconds; 0 = the server's default
  std::string fault;                       // --fault SPEC
  bool test_commands = false;              // --test-commands
  std::string client_version;
  std::string update_url;
  std::string update_rule;  // a file
  std::vector<std::string> extra_args;

  std::vector<std::string> Args() const {
    std::vector<std::string> a;
    auto add = [&a](const char* name, const std::string& v) {
      if (!v.empty()) {
        a.emplace_back(name);
        a.push_back(v);
      }
    };
    add("--registry", registry);
    add("--authority", authority);
    add("--server-cert", server_cert);
    add("--server-key", server_key);
    for (const std::string& s : seed_accounts) add("--seed-account", s);
    if (session_timeout > 0) add("--session-timeout", std::to_string(session_timeout));
    add("--fault", fault);
    if (test_commands) a.emplace_back("--test-commands");
    add("--client-version", client_version);
    add("--update-url", update_url);
    add("--update-rule", update_rule);
    a.insert(a.end(), extra_args.begin(), extra_args.end());
    return a;
  }
};

// One HTTP/1.1 POST over a fresh loopback connection, read until the
// announced Content-Length, the peer's close or the timeout.
struct RawHttpResult {
  bool connected = false;
  bool timed_out = false;  // no complete reply within the time
  bool complete = false;   // headers and the whole announced body arrived
  int status = 0;
  size_t content_length = 0;  // as announced
  std::string body;           // what arrived of it
};

inline RawHttpResult RawHttpPost(uint16_t port, const std::string& path,
                                 const std::string& content_type, const std::string& body,
                                 int timeout_ms = 10000) {
  RawHttpResult r;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return r;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return r;
  }
  r.connected = true;
  std::string request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nUser-Agent: Mozilla/4.0 (compatible; QOVRA HTTP Client 1.0)" +
                        "\r\nContent-Type: " + content_type +
                        "\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\nConnection: close\r\n\r\n" + body;
  for (size_t sent = 0; sent < request.size();) {
    const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string in;
  size_t header_end = std::string::npos;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (header_end != std::string::npos && in.size() - header_end - 4 >= r.content_length) {
      r.complete = true;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      r.timed_out = true;
      break;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;  // closed or reset
    in.append(buf, static_cast<size_t>(n));
    if (header_end == std::string::npos) {
      header_end = in.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        if (in.rfind("HTTP/1.", 0) == 0 && in.size() > 12) r.status = std::atoi(in.c_str() + 9);
        std::string head = in.substr(0, header_end);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t cl = head.find("\r\ncontent-length:");
        if (cl != std::string::npos)
          r.content_length = std::strtoull(head.c_str() + cl + 17, nullptr, 10);
      }
    }
  }
  ::close(fd);
  if (header_end != std::string::npos) {
    r.body = in.substr(header_end + 4);
    if (r.body.size() > r.content_length) r.body.resize(r.content_length);
  }
  return r;
}

class ExchangeServer {
 public:
  ExchangeServer() = default;
  ~ExchangeServer() { Stop(); }
  ExchangeServer(const ExchangeServer&) = delete;
  ExchangeServer& operator=(const ExchangeServer&) = delete;

  bool Start(const ExchangeServerOptions& options) { return Start(options.Args()); }

  // extra_args follow "--port 0 --data DIR". False when the server did not
  // come up; error() says why.
  bool Start(const std::vector<std::string>& extra_args = {}) {
    Stop();
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/qovra-xs-XXXXXX";
    if (!::mkdtemp(templ.data())) return Fail("mkdtemp failed");
    data_dir_ = templ;

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return Fail("pipe failed");
    const std::string binary = std::string(QOVRA_BIN_DIR) + "/exchange-server";
    std::vector<std::string> args{binary, "--port", "0", "--data", data_dir_};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string log = data_dir_ + "/server.log";
    const int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log_fd < 0) {
      ::close(out[0]);
      ::close(out[1]);
      return Fail("cannot create " + log);
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      // The server ends with the thread that started it, even when the
      // test process crashes or is killed.
      if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(127);
      if (::dup2(out[1], STDOUT_FILENO) < 0 || ::dup2(log_fd, STDERR_FILENO) < 0) ::_exit(127);
      ::execve(binary.c_str(), argv.data(), environ);
      ::_exit(127);
    }
    ::close(log_fd);
    ::close(out[1]);
    if (pid_ < 0) {
      ::close(out[0]);
      pid_ = -1;
      return Fail("cannot start " + binary);
    }
    out_fd_ = out[0];

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return Fail("no listening line from the server");
      pollfd p{out_fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char c[256];
      const ssize_t n = ::read(out_fd_, c, sizeof c);
      if (n <= 0) return Fail("the server ended before listening");
      line.append(c, static_cast<size_t>(n));
    }
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) return Fail("unexpected line: " + line);
    port_ = static_cast<uint16_t>(std::atoi(line.c_str() + prefix.size()));
    if (port_ == 0) return Fail("bad port in: " + line);
    return true;
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          ::kill(pid_, SIGKILL);
          ::waitpid(pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      pid_ = -1;
      ended_cleanly_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      log_ = ReadLog();
    }
    if (out_fd_ >= 0) ::close(out_fd_);
    out_fd_ = -1;
    if (!data_dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(data_dir_, ec);
      data_dir_.clear();
    }
    port_ = 0;
  }

  // Changes the fault switch of a server started with test_commands (spec
  // as in tools/exchange-server/server/fault.h). False when refused.
  bool SetFault(const std::string& spec) {
    const RawHttpResult r = RawHttpPost(port_, "/test/fault", "text/plain", spec);
    return r.complete && r.status == 200;
  }

  uint16_t Port() const { return port_; }
  // The server's process id; -1 when it is not running.
  pid_t Pid() const { return pid_; }
  // "http://127.0.0.1:PORT"
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The protocol URL, as the client builds it: Origin() + "/qovra4/".
  std::string Url() const { return Origin() + "/qovra4/"; }
  const std::string& DataDir() const { return data_dir_; }
  const std::string& error() const { return error_; }
  // After Stop: whether the server exited by itself with status 0 (under
  // the sanitizers a report makes this false), and what it wrote to stderr.
  bool EndedCleanly() const { return ended_cleanly_; }
  const std::string& Log() const { return log_; }

 private:
  bool Fail(const std::string& why) {
    error_ = why;
    const std::string text = ReadLog();
    if (!text.empty()) error_ += "; server: " + text;
    Stop();
    return false;
  }

  std::string ReadLog() const {
    if (data_dir_.empty()) return {};
    std::ifstream log(data_dir_ + "/server.log");
    return {std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()};
  }

  pid_t pid_ = -1;
  bool ended_cleanly_ = false;
  std::string log_;
  int out_fd_ = -1;
  uint16_t port_ = 0;
  std::string data_dir_;
  std::string error_;
};

}  // namespace qovra_test

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

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qovra_test {

class ExchangeServer {
 public:
  ExchangeServer() = default;
  ~ExchangeServer() { Stop(); }
  ExchangeServer(const ExchangeServer&) = delete;
  ExchangeServer& operator=(const ExchangeServer&) = delete;

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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int rc = ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
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

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The protocol URL, as the client builds it: Origin() + "/qovra4/".
  std::string Url() const { return Origin() + "/qovra4/"; }
  const std::string& DataDir() const { return data_dir_; }
  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::string& why) {
    error_ = why;
    Stop();
    return false;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  uint16_t port_ = 0;
  std::string data_dir_;
  std::string error_;
};

}  // namespace qovra_test

// A scripted HTTP peer on 127.0.0.1 for transport tests.
//
// One thread accepts connections on a free port and plays the same script
// on each: optionally read one whole request (head and Content-Length
// body), record its raw bytes and any bytes that follow it, write the
// scripted reply, then close the connection or hold it open (a stalled
// server) until the listener is destroyed. Nothing blocks for long: every
// wait is bounded, so a faulty client fails a test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qovra_test {

struct ListenerScript {
  bool read_request = true;  // false: never read (a server that stopped answering)
  bool head_only = false;    // read and record the request head only, not its body
  std::string reply;         // written after the request
  bool close_after = true;   // false: keep the connection open, silent
  bool reply_early = false;  // reply as soon as the head is in, then read the body
};

// One recorded request: the bytes up to the end of its declared body, and
// whatever arrived after that before the reply went out.
struct RecordedRequest {
  std::string raw;
  std::string extra;
};

class LoopbackListener {
 public:
  explicit LoopbackListener(ListenerScript script) : script_(std::move(script)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::listen(fd_, 16) == 0) {
      socklen_t len = sizeof addr;
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
      port_ = ntohs(addr.sin_port);
    }
    thread_ = std::thread([this] { Run(); });
  }

  ~LoopbackListener() {
    stop_ = true;
    thread_.join();
    for (int c : held_) ::close(c);
    ::close(fd_);
  }

  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  uint16_t Port() const { return port_; }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<RecordedRequest> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int Connections() const { return connections_; }

 private:
  enum class Got { Data, Nothing, Closed };

  // Reads what arrives within wait_ms.
  static Got ReadSome(int c, std::string& into, int wait_ms) {
    pollfd p{c, POLLIN, 0};
    const int r = ::poll(&p, 1, wait_ms);
    if (r == 0) return Got::Nothing;
    if (r < 0) return Got::Closed;
    char buf[65536];
    const ssize_t n = ::recv(c, buf, sizeof buf, 0);
    if (n <= 0) return Got::Closed;
    into.append(buf, static_cast<size_t>(n));
    return Got::Data;
  }

  static size_t DeclaredLength(const std::string& head) {
    std::string lower;
    for (char ch : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return static_cast<size_t>(std::strtoull(head.c_str() + at + 17, nullptr, 10));
  }

  void SendReply(int c) {
    size_t sent = 0;
    while (sent < script_.reply.size()) {
      const ssize_t n =
          ::send(c, script_.reply.data() + sent, script_.reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }

  void Serve(int c) {
    bool replied = false;
    if (script_.read_request) {
      std::string data;
      size_t head_end = std::string::npos;
      size_t wanted = std::string::npos;  // bytes up to the end of the declared body
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        if (head_end == std::string::npos) {
          head_end = data.find("\r\n\r\n");
          if (head_end != std::string::npos) {
            wanted = head_end + 4 +
                     (script_.head_only ? 0 : DeclaredLength(data.substr(0, head_end + 2)));
            if (script_.reply_early) {
              SendReply(c);
              replied = true;
            }
          }
        }
        if (data.size() >= wanted) break;
        if (ReadSome(c, data, 50) == Got::Closed) break;
      }
      std::string tail;
      while (!script_.head_only && ReadSome(c, tail, 100) == Got::Data) {
      }
      const size_t end = std::min(data.size(), wanted);
      RecordedRequest rec;
      rec.raw = data.substr(0, end);
      rec.extra = data.substr(end) + tail;
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(rec);
    }
    if (!replied) SendReply(c);
    if (script_.close_after) {
      ::shutdown(c, SHUT_WR);
      std::string ignored;
      while (ReadSome(c, ignored, 20) == Got::Data) {
      }
      ::close(c);
    } else {
      held_.push_back(c);
    }
  }

  void Run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ++connections_;
      Serve(c);
    }
  }

  ListenerScript script_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::vector<int> held_;  // touched by the listener thread only, then by the destructor
};

// A reply with status line, Content-Length and body.
inline std::string HttpReplyText(int status, const std::string& reason, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

// A request split into its request line, header lines and body.
struct SplitHttpRequest {
  std::string request_line;
  std::vector<std::string> headers;
  std::string body;
};

inline SplitHttpRequest SplitRequest(const std::string& raw) {
  SplitHttpRequest out;
  const size_t head_end = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, head_end);
  out.body = head_end == std::string::npos ? std::string() : raw.substr(head_end + 4);
  size_t start = 0;
  bool first = true;
  while (start <= head.size()) {
    const size_t eol = head.find("\r\n", start);
    const std::string line =
        head.substr(start, eol == std::string::npos ? std::string::npos : eol - start);
    if (first) {
      out.request_line = line;
      first = false;
    } else if (!line.empty()) {
      out.headers.push_back(line);
    }
    if (eol == std::string::npos) break;
    start = eol + 2;
  }
  return out;
}

// The value of the first header called name (any case); empty when absent.
inline std::string HeaderValue(const SplitHttpRequest& r, const std::string& name) {
  for (const std::string& h : r.headers) {
    const size_t colon = h.find(':');
    if (colon == std::string::npos || colon != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < colon; ++i) {
      if (std::tolower(static_cast<unsigned char>(h[i])) !=
          std::tolower(static_cast<unsigned char>(name[i]))) {
        same = false;
      }
    }
    if (same) {
      size_t v = colon + 1;
      while (v < h.size() && h[v] == ' ') ++v;
      return h.substr(v);
    }
  }
  return {};
}

}  // namespace qovra_test

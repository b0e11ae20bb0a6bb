#include "http_layer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "body_range.h"
#include "http_head.h"

namespace exchange {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = size_t{256} << 10;
constexpr size_t kHeadReadChunk = size_t{16} << 10;
constexpr size_t kMaxChunkLine = 1024;

const char* StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 413:
      return "Payload Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 501:
      return "Not Implemented";
    default:
      return "Error";
  }
}

// A request body: in memory up to kMemoryBody, then in an unnamed file.
class BodyStore {
 public:
  explicit BodyStore(const std::string& dir) : dir_(dir) {}
  ~BodyStore() {
    if (fd_ >= 0) ::close(fd_);
  }
  BodyStore(const BodyStore&) = delete;
  BodyStore& operator=(const BodyStore&) = delete;

  bool Append(const char* p, size_t n) {
    if (fd_ < 0 && memory_.size() + n <= kMemoryBody) {
      memory_.append(p, n);
      size_ += n;
      return true;
    }
    if (fd_ < 0) {
      if (!OpenFile() || !WriteAllFd(fd_, memory_.data(), memory_.size())) return false;
      std::string().swap(memory_);
    }
    if (!WriteAllFd(fd_, p, n)) return false;
    size_ += n;
    return true;
  }
  BodyRange Range() const {
    return fd_ >= 0 ? BodyRange::File(fd_, 0, size_) : BodyRange::Memory(memory_);
  }

 private:
  bool OpenFile() {
    fd_ = ::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
    // Filesystems without unnamed files: a named one, unlinked at once.
    std::string path = dir_ + "/body-XXXXXX";
    fd_ = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    ::unlink(path.c_str());
    return true;
  }

  const std::string& dir_;
  std::string memory_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace

struct HttpLayer::Impl {
  Impl(Dispatcher& d, HttpLimits l) : dispatcher(d), limits(std::move(l)) {}
  ~Impl() {
    if (listen_fd >= 0) ::close(listen_fd);
    if (stop_fd >= 0) ::close(stop_fd);
  }

  // Accepts connections itself and serves them one after another until the
  // server stops, keeping one thread waiting in accept at all times: no
  // single accepting thread stands between clients and the workers. Threads
  // are kept for later connections (what they cache, the signature's
  // fixed-base tables, stays warm) unless kMaxIdleThreads already wait.
  void Worker();
  // Starts a worker counted as idle. REQUIRES: mutex held.
  void StartWorker();

  Dispatcher& dispatcher;
  HttpLimits limits;
  int listen_fd = -1;
  int stop_fd = -1;  // readable once Stop was called
  std::mutex mutex;
  std::condition_variable all_closed;  // threads reached 0
  size_t threads = 0;
  size_t idle = 0;  // threads waiting for a connection
};

namespace {

// One connection: requests one after another until the client closes, a
// deadline passes or the server stops.
class Connection {
 public:
  Connection(int fd, HttpLayer::Impl& impl) : fd_(fd), impl_(impl) {}
  ~Connection() { ::close(fd_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Run() {
    while (ServeOne()) {
    }
  }

 private:
  Clock::duration Grace() const { return impl_.limits.header_deadline; }
  // The time by which a body or reply that started at start must have moved
  // done bytes.
  Clock::time_point PaceDeadline(Clock::time_point start, uint64_t done) const {
    return start + Grace() + std::chrono::microseconds(done * 1'000'000 / kMinBodyRate);
  }

  // Waits for events on the socket until deadline; false when it passed or
  // the server is stopping.
  bool Wait(short events, Clock::time_point deadline) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p[2] = {{fd_, events, 0}, {impl_.stop_fd, POLLIN, 0}};
      const int timeout = static_cast<int>(std::min<int64_t>(left.count() + 1, 60'000));
      const int n = ::poll(p, 2, timeout);
      if (n < 0 && errno != EINTR) return false;
      if (n <= 0) continue;
      if (p[1].revents) return false;
      if (p[0].revents) return true;
    }
  }

  // Reads more bytes into the buffer after the unused ones (consumed bytes
  // are dropped first); false on close, error or deadline.
  bool Refill(Clock::time_point deadline, size_t chunk = kReadChunk) {
    in_.erase(0, pos_);
    pos_ = 0;
    for (;;) {
      const size_t have = in_.size();
      in_.resize(have + chunk);
      const ssize_t n = ::recv(fd_, in_.data() + have, chunk, 0);
      const int error = errno;
      in_.resize(have + (n > 0 ? static_cast<size_t>(n) : 0));
      if (n > 0) return true;
      if (n == 0) return false;
      if (error == EINTR) continue;
      if (error != EAGAIN && error != EWOULDBLOCK) return false;
      if (!Wait(POLLIN, deadline)) return false;
    }
  }

  bool Send(const char* p, size_t n, Clock::time_point start, uint64_t& sent) {
    while (n > 0) {
      const ssize_t w = ::send(fd_, p, n, MSG_NOSIGNAL);
      if (w > 0) {
        p += w;
        n -= static_cast<size_t>(w);
        sent += static_cast<uint64_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
          Wait(POLLOUT, PaceDeadline(start, sent)))
        continue;
      return false;
    }
    return true;
  }

  bool SendText(const std::string& text) {
    uint64_t sent = 0;
    return Send(text.data(), text.size(), Clock::now(), sent);
  }

  // A reply without a body that asks the client to close.
  void Refuse(int status) {
    SendText("HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  }

  // Moves n body bytes from the connection into body.
  bool ReadBody(uint64_t n, BodyStore& body, Clock::time_point start, uint64_t& received) {
    while (n > 0) {
      if (pos_ == in_.size() && !Refill(PaceDeadline(start, received))) return false;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, in_.size() - pos_));
      if (!body.Append(in_.data() + pos_, take)) return false;
      pos_ += take;
      n -= take;
      received += take;
    }
    return true;
  }

  bool ReadLine(std::string& line, Clock::time_point start, uint64_t received) {
    line.clear();
    for (;;) {
      const size_t eol = in_.find("\r\n", pos_);
      if (eol != std::string::npos && eol - pos_ <= kMaxChunkLine) {
        line.assign(in_, pos_, eol - pos_);
        pos_ = eol + 2;
        return true;
      }
      if (in_.size() - pos_ > kMaxChunkLine) return false;
      // Refill keeps the partial line and appends to it.
      if (!Refill(PaceDeadline(start, received), kHeadReadChunk)) return false;
    }
  }

  // The chunked framing; 0 when read, else the status to refuse with (-1:
  // close without one).
  int ReadChunked(BodyStore& body, Clock::time_point start) {
    uint64_t received = 0;
    std::string line;
    for (;;) {
      uint64_t size = 0;
      if (!ReadLine(line, start, received)) return -1;
      if (!ParseHexSize(line, size)) return 400;
      if (size == 0) break;
      if (size > impl_.limits.max_body || received + size > impl_.limits.max_body) return 413;
      if (!ReadBody(size, body, start, received)) return -1;
      if (!ReadLine(line, start, received)) return -1;
      if (!line.empty()) return 400;
    }
    // Trailer lines up to the blank one.
    do {
      if (!ReadLine(line, start, received)) return -1;
    } while (!line.empty());
    return 0;
  }

  bool ServeOne() {
    const Clock::time_point ready = Clock::now();
    const Clock::time_point head_deadline = ready + Grace();
    size_t head_end = std::string::npos;
    size_t scanned = 0;  // bytes after pos_ known to hold no blank line
    for (;;) {
      head_end = in_.find("\r\n\r\n", pos_ + scanned);
      if (head_end != std::string::npos) break;
      if (in_.size() - pos_ > kMaxRequestHead) {
        Refuse(431);
        return false;
      }
      // Only the new bytes (and the 3 before them) are searched next time,
      // so a head sent a byte at a time costs no more than one sent whole.
      scanned = in_.size() - pos_ > 3 ? in_.size() - pos_ - 3 : 0;
      // Heads are small: a small read keeps idle connections cheap.
      if (!Refill(head_deadline, kHeadReadChunk)) return false;
    }
    if (head_end - pos_ > kMaxRequestHead) {
      Refuse(431);
      return false;
    }
    RequestHead head;
    const int bad = ParseHead(std::string_view(in_).substr(pos_, head_end + 4 - pos_), head);
    pos_ = head_end + 4;
    if (bad != 0) {
      Refuse(bad);
      return false;
    }
    if (!head.chunked && head.content_length > impl_.limits.max_body) {
      Refuse(413);
      return false;
    }
    if (head.expect_continue && !SendText("HTTP/1.1 100 Continue\r\n\r\n")) return false;

    BodyStore body(impl_.limits.body_dir);
    const Clock::time_point body_start = Clock::now();
    if (head.chunked) {
      const int status = ReadChunked(body, body_start);
      if (status != 0) {
        if (status > 0) Refuse(status);
        return false;
      }
    } else {
      uint64_t received = 0;
      if (!ReadBody(head.content_length, body, body_start, received)) return false;
    }

    HttpRequest request;
    request.method = head.method;
    request.path = head.path;
    request.content_type = head.content_type;
    request.body = body.Range();
    const HttpReply reply = impl_.dispatcher.Handle(request);
    return SendReply(reply, head.keep_alive);
  }

  bool SendReply(const HttpReply& reply, bool keep_alive) {
    if (reply.delivery == Delivery::Stall) {
      impl_.dispatcher.Stall();
      return false;
    }
    const uint64_t tail = reply.tail ? reply.tail->Size() : 0;
    const uint64_t total = reply.body.size() + tail;
    const bool drop = reply.delivery == Delivery::Drop;
    const std::string head =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + StatusText(reply.status) +
        "\r\nContent-Type: " + reply.content_type + "\r\nContent-Length: " + std::to_string(total) +
        "\r\nConnection: " + (keep_alive && !drop ? "keep-alive" : "close") + "\r\n\r\n";
    if (!SendText(head)) return false;
    // A dropped reply: the full length is announced, half the bytes sent.
    const uint64_t limit = drop ? total / 2 : total;
    const Clock::time_point start = Clock::now();
    uint64_t sent = 0;
    auto sink = [&](const char* p, size_t n) {
      if (sent >= limit) return false;
      const size_t k = static_cast<size_t>(std::min<uint64_t>(n, limit - sent));
      return Send(p, k, start, sent) && k == n;
    };
    if (!sink(reply.body.data(), reply.body.size())) return false;
    if (reply.tail && !reply.tail->Write(sink)) return false;
    return keep_alive && !drop;
  }

  int fd_;
  HttpLayer::Impl& impl_;
  std::string in_;  // bytes read from the connection; pos_ is the next unused
  size_t pos_ = 0;
};

}  // namespace

HttpLayer::HttpLayer(Dispatcher& dispatcher, HttpLimits limits)
    : impl_(std::make_unique<Impl>(dispatcher, std::move(limits))) {
  impl_->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

HttpLayer::~HttpLayer() = default;

int HttpLayer::Bind(uint16_t port, std::string& error) {
  const std::string where = "127.0.0.1:" + std::to_string(port);
  if (impl_->stop_fd < 0) {
    error = "cannot make an event descriptor";
    return -1;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = "cannot make a socket";
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, SOMAXCONN) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    error = "cannot bind " + where;
    return -1;
  }
  impl_->listen_fd = fd;
  return ntohs(addr.sin_port);
}

bool HttpLayer::Serve() {
  Impl& impl = *impl_;
  if (impl.listen_fd < 0) return false;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    for (size_t i = 0; i < kStartThreads; ++i) impl.StartWorker();
    if (impl.threads == 0) return false;
  }
  // The workers accept and serve; this thread keeps house until Stop.
  pollfd p{impl.stop_fd, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, 1000);
    if (n > 0 || (n < 0 && errno != EINTR)) break;
    impl.dispatcher.Housekeep();
  }
  std::unique_lock<std::mutex> lock(impl.mutex);
  impl.all_closed.wait(lock, [&impl] { return impl.threads == 0; });
  return true;
}

void HttpLayer::Impl::StartWorker() {
  try {
    std::thread([this] { Worker(); }).detach();
    ++threads;
    ++idle;
  } catch (const std::system_error&) {
    // The threads already there take the connections.
  }
}

void HttpLayer::Impl::Worker() {
  // Exclusive waits: a new connection wakes one waiting thread, not all;
  // Stop wakes every one.
  const int ep = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event listen_event{};
  listen_event.events = EPOLLIN | EPOLLEXCLUSIVE;
  listen_event.data.fd = listen_fd;
  epoll_event stop_event{};
  stop_event.events = EPOLLIN;
  stop_event.data.fd = stop_fd;
  bool ready = ep >= 0 && ::epoll_ctl(ep, EPOLL_CTL_ADD, listen_fd, &listen_event) == 0 &&
               ::epoll_ctl(ep, EPOLL_CTL_ADD, stop_fd, &stop_event) == 0;
  while (ready) {
    epoll_event events[2];
    const int n = ::epoll_wait(ep, events, 2, -1);
    if (n < 0 && errno != EINTR) break;
    bool stop = false, incoming = false;
    for (int i = 0; i < n; ++i) {
      stop = stop || events[i].data.fd == stop_fd;
      incoming = incoming || events[i].data.fd == listen_fd;
    }
    if (stop) break;
    if (!incoming) continue;
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
      std::lock_guard<std::mutex> lock(mutex);
      --idle;
      // Beyond kMaxConnections, new connections wait in the listen queue.
      if (idle == 0 && threads < kMaxConnections) StartWorker();
    }
    {
      Connection c(fd, *this);
      c.Run();
    }
    std::lock_guard<std::mutex> lock(mutex);
    ++idle;
    // Enough threads wait already: this one ends (counted off below).
    if (idle > kMaxIdleThreads) break;
  }
  if (ep >= 0) ::close(ep);
  // This thread's OpenSSL state goes now: once the last thread is counted
  // off, the process may end before a detached thread's exit would free it.
  OPENSSL_thread_stop();
  std::lock_guard<std::mutex> lock(mutex);
  --idle;
  if (--threads == 0) all_closed.notify_all();
}

void HttpLayer::Stop() {
  impl_->dispatcher.Shutdown();
  const uint64_t one = 1;
  if (::write(impl_->stop_fd, &one, sizeof one) < 0) {
    // The descriptor is a counter that cannot overflow here.
  }
}

}  // namespace exchange

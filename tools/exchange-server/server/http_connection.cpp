#include "http_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "body_range.h"
#include "http_head.h"
#include "write_failure.h"

namespace exchange {

namespace {

constexpr size_t kReadChunk = size_t{256} << 10;
constexpr size_t kHeadReadChunk = size_t{16} << 10;
constexpr size_t kMaxChunkLine = 1024;
// What ReadHead takes in one call, so one busy client does not hold the
// poller.
constexpr size_t kHeadReadTurn = size_t{64} << 10;

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
    case 507:
      return "Insufficient Storage";
    default:
      return "Error";
  }
}

}  // namespace

// A request body: in memory up to kMemoryBody, then in an unnamed file.
// Once storing fails, the rest is read and dropped (error says why), so
// the client still gets its reply.
class HttpConnection::Body {
 public:
  explicit Body(const std::string& dir) : dir_(dir) {}
  ~Body() {
    if (fd_ >= 0) ::close(fd_);
  }
  Body(const Body&) = delete;
  Body& operator=(const Body&) = delete;

  void Append(const char* p, size_t n) {
    size_ += n;
    if (error_ != 0) return;
    if (fd_ < 0 && memory_.size() + n <= kMemoryBody) {
      memory_.append(p, n);
      return;
    }
    if (fd_ < 0) {
      if (!OpenFile() || !WriteAllFd(fd_, memory_.data(), memory_.size())) return Fail();
      std::string().swap(memory_);
    }
    if (!WriteAllFd(fd_, p, n)) Fail();
  }
  // The errno of the failure to store it; 0 when it is stored whole.
  int error() const { return error_; }
  uint64_t size() const { return size_; }
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
  void Fail() {
    error_ = errno != 0 ? errno : EIO;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    std::string().swap(memory_);
  }

  const std::string& dir_;
  std::string memory_;
  int fd_ = -1;
  uint64_t size_ = 0;
  int error_ = 0;
};

HttpConnection::HttpConnection(int fd, Dispatcher& dispatcher, const HttpLimits& limits,
                               int stop_fd)
    : fd_(fd), dispatcher_(dispatcher), limits_(limits), stop_fd_(stop_fd) {}

HttpConnection::~HttpConnection() {
  ::close(fd_);
}

bool HttpConnection::HeadBuffered() const {
  return in_.find("\r\n\r\n", pos_) != std::string::npos;
}

HttpConnection::HeadState HttpConnection::ReadHead() {
  in_.erase(0, pos_);
  pos_ = 0;
  for (size_t taken = 0; taken < kHeadReadTurn;) {
    // Only the new bytes (and the 3 before them) are searched, so a head
    // sent a byte at a time costs no more than one sent whole.
    const size_t end = in_.find("\r\n\r\n", scanned_);
    if (end != std::string::npos) {
      scanned_ = 0;
      if (end > kMaxRequestHead) {
        RefuseAtOnce(431);
        return HeadState::Closed;
      }
      return HeadState::Complete;
    }
    if (in_.size() > kMaxRequestHead) {
      RefuseAtOnce(431);
      return HeadState::Closed;
    }
    scanned_ = in_.size() > 3 ? in_.size() - 3 : 0;
    const size_t have = in_.size();
    in_.resize(have + kHeadReadChunk);
    const ssize_t n = ::recv(fd_, in_.data() + have, kHeadReadChunk, 0);
    const int error = errno;
    in_.resize(have + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0) return HeadState::Closed;
    if (n < 0) {
      if (error == EINTR) continue;
      return error == EAGAIN || error == EWOULDBLOCK ? HeadState::More : HeadState::Closed;
    }
    taken += static_cast<size_t>(n);
  }
  return HeadBuffered() ? HeadState::Complete : HeadState::More;
}

HttpConnection::Clock::time_point HttpConnection::PaceDeadline(Clock::time_point start,
                                                               uint64_t done) const {
  return start + limits_.header_deadline +
         std::chrono::microseconds(done * 1'000'000 / kMinBodyRate);
}

bool HttpConnection::Wait(short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p[2] = {{fd_, events, 0}, {stop_fd_, POLLIN, 0}};
    const int timeout = static_cast<int>(std::min<int64_t>(left.count() + 1, 60'000));
    const int n = ::poll(p, 2, timeout);
    if (n < 0 && errno != EINTR) return false;
    if (n <= 0) continue;
    if (p[1].revents) return false;
    if (p[0].revents) return true;
  }
}

bool HttpConnection::Refill(Clock::time_point deadline, size_t chunk) {
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

bool HttpConnection::Send(const char* p, size_t n, Clock::time_point start, uint64_t& sent) {
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

bool HttpConnection::SendText(const std::string& text) {
  uint64_t sent = 0;
  return Send(text.data(), text.size(), Clock::now(), sent);
}

std::string HttpConnection::RefusalText(int status) {
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

void HttpConnection::RefuseAtOnce(int status) {
  const std::string text = RefusalText(status);
  if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
    // The connection is closed anyway.
  }
}

void HttpConnection::Refuse(int status) {
  SendText(RefusalText(status));
}

HttpConnection::BodyResult HttpConnection::ReadBody(uint64_t n, Body& body, Clock::time_point start,
                                                    uint64_t& received) {
  while (n > 0) {
    if (pos_ == in_.size() && !Refill(PaceDeadline(start, received), kReadChunk))
      return BodyResult::Lost;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, in_.size() - pos_));
    body.Append(in_.data() + pos_, take);
    pos_ += take;
    n -= take;
    received += take;
  }
  return BodyResult::Ok;
}

bool HttpConnection::ReadLine(std::string& line, Clock::time_point start, uint64_t received) {
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
int HttpConnection::ReadChunked(Body& body, Clock::time_point start) {
  uint64_t received = 0;
  std::string line;
  for (;;) {
    uint64_t size = 0;
    if (!ReadLine(line, start, received)) return -1;
    if (!ParseHexSize(line, size)) return 400;
    if (size == 0) break;
    if (size > limits_.max_body || received + size > limits_.max_body) return 413;
    if (ReadBody(size, body, start, received) != BodyResult::Ok) return -1;
    if (!ReadLine(line, start, received)) return -1;
    if (!line.empty()) return 400;
  }
  // Trailer lines up to the blank one.
  do {
    if (!ReadLine(line, start, received)) return -1;
  } while (!line.empty());
  return 0;
}

bool HttpConnection::Serve() {
  while (ServeOne()) {
    if (!HeadBuffered()) return true;
  }
  return false;
}

bool HttpConnection::ServeOne() {
  const size_t head_end = in_.find("\r\n\r\n", pos_);
  if (head_end == std::string::npos || head_end - pos_ > kMaxRequestHead) {
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
  if (!head.chunked && head.content_length > limits_.max_body) {
    Refuse(413);
    return false;
  }
  if (head.expect_continue && !SendText("HTTP/1.1 100 Continue\r\n\r\n")) return false;

  auto body = std::make_unique<Body>(limits_.body_dir);
  const Clock::time_point body_start = Clock::now();
  if (head.chunked) {
    const int status = ReadChunked(*body, body_start);
    if (status != 0) {
      if (status > 0) Refuse(status);
      return false;
    }
  } else {
    uint64_t received = 0;
    if (ReadBody(head.content_length, *body, body_start, received) != BodyResult::Ok) return false;
  }

  HttpRequest request;
  request.method = head.method;
  request.path = head.path;
  request.content_type = head.content_type;
  if (body->error() != 0) {
    // The whole body was read, so the client reads the answer, not a reset.
    if (!ReportWriteFailure("cannot keep a request body of " + std::to_string(body->size()) +
                                " bytes in " + limits_.body_dir,
                            body->error()))
      return false;
    SendReply(dispatcher_.NoSpace(request), false);
    return false;
  }
  request.body = body->Range();
  const HttpReply reply = dispatcher_.Handle(request);
  // The body's disk space is given back before the reply goes out.
  body.reset();
  return SendReply(reply, head.keep_alive);
}

bool HttpConnection::SendReply(const HttpReply& reply, bool keep_alive) {
  if (reply.delivery == Delivery::Stall) {
    dispatcher_.Stall();
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

}  // namespace exchange

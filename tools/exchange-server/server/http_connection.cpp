#include "http_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "body_range.h"
#include "body_store.h"
#include "http_head.h"
#include "multipart.h"
#include "request_parts.h"
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

HttpConnection::BodyResult HttpConnection::ReadBody(uint64_t n, BodySink& body,
                                                    Clock::time_point start, uint64_t& received) {
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
int HttpConnection::ReadChunked(BodySink& body, Clock::time_point start) {
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

  // A multipart body the dispatcher wants parts of is split as it comes
  // in, each kept part straight into a store of its own; any other body is
  // kept whole.
  std::unique_ptr<BodyStore> whole;
  std::unique_ptr<RequestParts> parts;
  std::string boundary;
  std::vector<std::string> names = Dispatcher::PartsToKeep(head.method, head.path);
  if (!names.empty() && ParseMultipartBoundary(head.content_type, boundary) == MultipartStatus::Ok)
    parts =
        std::make_unique<RequestParts>(limits_.body_dir, boundary, std::move(names), kMemoryBody);
  else
    whole = std::make_unique<BodyStore>(limits_.body_dir, kMemoryBody);
  BodySink& sink = parts ? static_cast<BodySink&>(*parts) : *whole;
  const Clock::time_point body_start = Clock::now();
  if (head.chunked) {
    const int status = ReadChunked(sink, body_start);
    if (status != 0) {
      if (status > 0) Refuse(status);
      return false;
    }
  } else {
    uint64_t received = 0;
    if (ReadBody(head.content_length, sink, body_start, received) != BodyResult::Ok) return false;
  }
  // The parse status reaches the dispatcher through the parts it finds.
  if (parts) (void)parts->Finish();

  HttpRequest request;
  request.method = head.method;
  request.path = head.path;
  request.content_type = head.content_type;
  const int store_error = parts ? parts->error() : whole->error();
  if (store_error != 0) {
    // The whole body was read, so the client reads the answer, not a reset.
    const uint64_t size = parts ? parts->size() : whole->size();
    if (!ReportWriteFailure("cannot keep a request body of " + std::to_string(size) + " bytes in " +
                                limits_.body_dir,
                            store_error))
      return false;
    SendReply(dispatcher_.NoSpace(request), false);
    return false;
  }
  if (whole) request.body = whole->Range();
  request.parts = parts.get();
  const HttpReply reply = dispatcher_.Handle(request);
  // The body's disk space is given back before the reply goes out.
  parts.reset();
  whole.reset();
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
  // A dropped reply: the full length is announced, part of it sent.
  uint64_t limit = total;
  if (drop && reply.drop_at == 0) limit = total / 2;
  if (drop && reply.drop_at > 0)
    limit = reply.drop_from_end ? total - std::min(reply.drop_at, total)
                                : std::min(reply.drop_at, total);
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

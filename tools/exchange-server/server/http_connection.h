// One client connection of the HTTP layer (see http_layer.h): the bytes
// read from it so far, its request head read without blocking by the
// poller, and its requests served by a worker.
//
// A connection is used by one thread at a time: the poller while it waits
// for a head, then the worker it was handed to.
#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "body_store.h"
#include "dispatcher.h"
#include "http_layer.h"

namespace exchange {

class HttpConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes fd (non-blocking), closed with the connection. stop_fd becomes
  // readable when the server stops; waits end then.
  HttpConnection(int fd, Dispatcher& dispatcher, const HttpLimits& limits, int stop_fd);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  int fd() const { return fd_; }

  // The time allowed for the next head starts at now.
  void StartHead(Clock::time_point now) { head_deadline_ = now + limits_.header_deadline; }
  Clock::time_point head_deadline() const { return head_deadline_; }

  enum class HeadState {
    Complete,  // a whole head is buffered: hand the connection to a worker
    More,      // wait until more arrives
    Closed,    // the peer closed, an error, or a head over kMaxRequestHead
               // (refused with 431): close the connection
  };
  // Reads what has arrived, without waiting, until a whole head is
  // buffered (never much beyond it).
  HeadState ReadHead();

  // Serves the buffered request, then every further one whose head is
  // already buffered whole. True when the connection stays open for its
  // next request, whose head has not arrived yet; false when it is done
  // (the reply closed it, an error, a deadline, or the server stopping).
  // REQUIRES: ReadHead returned Complete.
  bool Serve();

  // The poller's place for this connection while it waits for a head.
  std::list<std::unique_ptr<HttpConnection>>::iterator waiting_place;

 private:
  bool HeadBuffered() const;
  bool ServeOne();
  Clock::time_point PaceDeadline(Clock::time_point start, uint64_t done) const;
  bool Wait(short events, Clock::time_point deadline);
  bool Refill(Clock::time_point deadline, size_t chunk);
  bool Send(const char* p, size_t n, Clock::time_point start, uint64_t& sent);
  bool SendText(const std::string& text);
  static std::string RefusalText(int status);
  // A reply without a body that asks the client to close; Refuse waits
  // for the socket as a reply does, RefuseAtOnce (for the poller) does not.
  void Refuse(int status);
  void RefuseAtOnce(int status);
  enum class BodyResult { Ok, Lost, NoSpace };
  BodyResult ReadBody(uint64_t n, BodySink& body, Clock::time_point start, uint64_t& received);
  bool ReadLine(std::string& line, Clock::time_point start, uint64_t received);
  int ReadChunked(BodySink& body, Clock::time_point start);
  bool SendReply(const HttpReply& reply, bool keep_alive);

  int fd_;
  Dispatcher& dispatcher_;
  const HttpLimits& limits_;
  int stop_fd_;
  Clock::time_point head_deadline_{};
  std::string in_;  // bytes read from the connection; pos_ is the next unused
  size_t pos_ = 0;
  size_t scanned_ = 0;  // bytes after pos_ known to hold no blank line
};

}  // namespace exchange

// The HTTP/1.1 side of the exchange server, on 127.0.0.1 only.
//
// One thread (the one in Serve) accepts connections and reads their
// request heads as bytes arrive, holding no worker for a connection that
// is slow to send its head or idle between requests. A connection whose
// head is complete goes to a worker thread (up to kMaxWorkers at once;
// more wait for one), which reads its body, has it answered and sends the
// reply, then hands the connection back for its next head. When the
// connections waiting for a head reach their cap (or no descriptor is
// left), the one that has waited longest is closed to make room. A
// request lives by deadlines, not by per-read time-outs:
//   - its request line and headers must be complete within
//     limits.header_deadline of the moment the connection was ready for it
//     (accepted, or the previous reply sent), else the connection is closed;
//   - its body must keep pace: by time t after the headers, at least
//     (t - header_deadline) * kMinBodyRate bytes must have arrived;
//   - a reply is written under the same rule.
// A body announced longer than limits.max_body is refused from the headers
// with 413 before any of it is read (a chunked body once it passes the
// cap). Bodies up to kMemoryBody stay in memory; longer ones stream to an
// unnamed 0600 file in limits.body_dir that is gone when the request ends.
// The multipart body of a protocol exchange is split into its parts as it
// arrives: the header and content parts are kept that way each (the
// content in a file of its own, which a command may link under a name of
// its own), the other parts' bytes are dropped.
// A body the disk has no room for is read to its end, logged and answered
// with the dispatcher's no-space reply. The body is handed to the
// dispatcher as a range; a reply's tail (its files) is streamed after its
// head. About once a second the accepting thread calls the dispatcher's
// Housekeep.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "dispatcher.h"

namespace exchange {

inline constexpr size_t kMaxWorkers = 512;  // requests served at once
// Connections waiting for a head, at most; fewer when the process may not
// open that many descriptors.
inline constexpr size_t kMaxWaitingHeads = 16384;
inline constexpr size_t kStartThreads = 8;
inline constexpr size_t kMaxIdleThreads = 16;
inline constexpr size_t kMaxRequestHead = 65536;
inline constexpr size_t kMemoryBody = 65536;
inline constexpr uint64_t kMinBodyRate = uint64_t{1} << 20;  // bytes per second

struct HttpLimits {
  uint64_t max_body = uint64_t{4} << 30;
  std::chrono::seconds header_deadline{10};
  std::string body_dir;  // where bodies above kMemoryBody are streamed
};

class HttpLayer {
 public:
  HttpLayer(Dispatcher& dispatcher, HttpLimits limits);
  ~HttpLayer();
  HttpLayer(const HttpLayer&) = delete;
  HttpLayer& operator=(const HttpLayer&) = delete;

  // Binds 127.0.0.1:port (0 = any free port). Returns the bound port, or -1
  // with a message in error.
  [[nodiscard]] int Bind(uint16_t port, std::string& error);
  // Serves until Stop; returns false when serving failed. Returns once
  // every connection has ended.
  bool Serve();
  // Makes Serve return; safe from another thread.
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace exchange

// The request dispatcher: one HTTP request in, one reply out.
//
// The HTTP layer hands over each request (method, path, the request's
// Content-Type and the raw body as a range, in memory or in a file) and
// sends back what Handle returns, delivered as the reply's delivery says.
// Handle may be called from several connection threads at once; the
// exchange serialises where it must.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "exchange.h"
#include "fault.h"
#include "request_parts.h"

namespace exchange {

struct HttpRequest {
  std::string method;
  std::string path;
  std::string content_type;
  // The body as read, unless it was split into parts while it was read
  // (a multipart body of a request PartsToKeep names parts for): then body
  // is empty and parts holds the parts kept.
  BodyRange body;
  const RequestParts* parts = nullptr;
};

struct HttpReply {
  int status = 200;
  std::string content_type = "application/octet-stream";
  std::string body;
  Delivery delivery = Delivery::Normal;
  uint64_t drop_at = 0;  // Delivery::Drop: as ExchangeReply's
  bool drop_from_end = false;
  std::shared_ptr<const ReplyTail> tail;  // sent after body when set
};

// The longest header part read into memory.
inline constexpr uint64_t kMaxHeaderPart = uint64_t{16} << 20;

// The plain reply form: "<reply><res val="code"/></reply>".
std::string PlainReply(int code);

// Protocol exchanges: every one is answered with status 200; protocol errors
// travel as the reply's result code.
inline constexpr const char* kProtocolPath = "/qovra4/";
// Test-only (with --test-commands): POST a fault spec to change the switch.
inline constexpr const char* kFaultPath = "/test/fault";

// The longest a stalled request waits when the server is not stopped.
inline constexpr std::chrono::seconds kMaxStall{600};

class Dispatcher {
 public:
  explicit Dispatcher(ServerConfig config);

  // Prepares the server's state (see Exchange::Init).
  [[nodiscard]] bool Init(std::string& error, std::vector<std::string>& warnings);

  // The parts of a request with this method and path that are kept when
  // its body is multipart: the header and content parts of a protocol
  // exchange. Empty: the body is kept as it is.
  static std::vector<std::string> PartsToKeep(std::string_view method, std::string_view path);

  HttpReply Handle(const HttpRequest& request);
  // The answer to a request whose body the disk had no room for: the plain
  // reply with kResNoSpace on the protocol path, else 507.
  HttpReply NoSpace(const HttpRequest& request) const;

  // Periodic upkeep (see Exchange::Housekeep); the HTTP layer calls it
  // about once a second from one thread.
  void Housekeep() { exchange_.Housekeep(); }

  // Blocks a stalled request until Shutdown or kMaxStall.
  void Stall() { stall_gate_.Wait(kMaxStall); }
  // Releases every stalled request, for good.
  void Shutdown() { stall_gate_.ReleaseAll(); }

 private:
  HttpReply HandleExchange(const HttpRequest& request);
  HttpReply HandleFault(const HttpRequest& request);
  HttpReply HandleContacts(const std::string& file_name);

  Exchange exchange_;
  StallGate stall_gate_;
};

}  // namespace exchange

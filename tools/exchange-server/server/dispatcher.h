// The request dispatcher: one HTTP request in, one reply out.
//
// The HTTP layer hands over each request whole (method, path, the
// request's Content-Type and the raw body) and sends back what Handle
// returns. The dispatcher holds the server's state; Handle may be called
// from several connection threads at once and serialises where it must.
#pragma once

#include <mutex>
#include <string>

#include "config.h"

namespace exchange {

struct HttpRequest {
  std::string method;
  std::string path;
  std::string content_type;
  std::string body;
};

struct HttpReply {
  int status = 200;
  std::string content_type = "application/octet-stream";
  std::string body;
};

// The plain reply form: "<reply><res val="code"/></reply>".
std::string PlainReply(int code);

// Protocol exchanges: every one is answered with status 200; protocol errors
// travel as the reply's result code.
inline constexpr const char* kProtocolPath = "/qovra4/";

class Dispatcher {
 public:
  explicit Dispatcher(ServerConfig config);

  HttpReply Handle(const HttpRequest& request);

 private:
  HttpReply HandleExchange(const HttpRequest& request);
  HttpReply HandleContacts(const std::string& file_name);

  ServerConfig config_;
  std::mutex mutex_;  // guards the server's state
};

}  // namespace exchange

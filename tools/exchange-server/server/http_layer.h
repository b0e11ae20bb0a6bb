// The HTTP side of the exchange server (cpp-httplib), on 127.0.0.1 only.
//
// Every request is read whole, with its body taken raw (the library's own
// multipart parsing is bypassed), and handed to the dispatcher.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dispatcher.h"

namespace exchange {

// Bodies above this size are refused with status 413.
constexpr size_t kMaxRequestBody = size_t{256} << 20;

class HttpLayer {
 public:
  explicit HttpLayer(Dispatcher& dispatcher);
  ~HttpLayer();
  HttpLayer(const HttpLayer&) = delete;
  HttpLayer& operator=(const HttpLayer&) = delete;

  // Binds 127.0.0.1:port (0 = any free port). Returns the bound port, or -1
  // with a message in error.
  [[nodiscard]] int Bind(uint16_t port, std::string& error);
  // Serves until Stop; returns false when serving failed.
  bool Serve();
  // Makes Serve return; safe from another thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace exchange

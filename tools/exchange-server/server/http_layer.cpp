#include "http_layer.h"

#include <httplib.h>

namespace exchange {

namespace {

void SendReply(Dispatcher& dispatcher, const HttpReply& reply, httplib::Response& res) {
  res.status = reply.status;
  switch (reply.delivery) {
    case Delivery::Normal:
      res.set_content(reply.body, reply.content_type.c_str());
      return;
    case Delivery::Stall:
      dispatcher.Stall();
      // Released at shutdown: close without a body.
      res.set_content_provider(1, reply.content_type,
                               [](size_t, size_t, httplib::DataSink&) { return false; });
      return;
    case Delivery::Drop: {
      // The full length is announced, half the bytes are sent, then the
      // provider fails and the library closes the connection.
      const std::string body = reply.body;
      res.set_content_provider(body.size(), reply.content_type,
                               [body](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0 && body.size() > 1)
                                   sink.write(body.data(), body.size() / 2);
                                 return false;
                               });
      return;
    }
  }
}

}  // namespace

struct HttpLayer::Impl {
  explicit Impl(Dispatcher& d) : dispatcher(d) {}
  Dispatcher& dispatcher;
  httplib::Server server;
};

HttpLayer::HttpLayer(Dispatcher& dispatcher) : impl_(std::make_unique<Impl>(dispatcher)) {
  httplib::Server& s = impl_->server;
  s.set_payload_max_length(kMaxRequestBody);
  s.set_read_timeout(60, 0);
  s.set_write_timeout(60, 0);
  s.set_keep_alive_timeout(5);

  s.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    HttpRequest r;
    r.method = "GET";
    r.path = req.path;
    SendReply(impl_->dispatcher, impl_->dispatcher.Handle(r), res);
  });

  s.Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& content_reader) {
    HttpRequest r;
    r.method = "POST";
    r.path = req.path;
    r.content_type = req.get_header_value("Content-Type");
    // The library parses multipart bodies itself when it sees that type and
    // refuses some valid ones; without the header it hands over the raw
    // bytes. The request object is the library's own, not a constant.
    const_cast<httplib::Request&>(req).headers.erase("Content-Type");
    bool too_large = false;
    const bool read = content_reader([&](const char* data, size_t length) {
      if (r.body.size() + length > kMaxRequestBody) {
        too_large = true;
        return false;
      }
      r.body.append(data, length);
      return true;
    });
    if (too_large) {
      res.status = 413;
      return;
    }
    if (!read) {
      res.status = 400;
      return;
    }
    SendReply(impl_->dispatcher, impl_->dispatcher.Handle(r), res);
  });
}

HttpLayer::~HttpLayer() = default;

int HttpLayer::Bind(uint16_t port, std::string& error) {
  httplib::Server& s = impl_->server;
  if (port == 0) {
    const int bound = s.bind_to_any_port("127.0.0.1");
    if (bound <= 0) {
      error = "cannot bind 127.0.0.1";
      return -1;
    }
    return bound;
  }
  if (!s.bind_to_port("127.0.0.1", port)) {
    error = "cannot bind 127.0.0.1:" + std::to_string(port);
    return -1;
  }
  return port;
}

bool HttpLayer::Serve() {
  return impl_->server.listen_after_bind();
}

void HttpLayer::Stop() {
  impl_->dispatcher.Shutdown();
  impl_->server.stop();
}

}  // namespace exchange

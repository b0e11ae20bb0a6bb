#include "dispatcher.h"

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "multipart.h"

namespace exchange {

namespace {

// Result codes of plain replies.
constexpr int kResMalformed = 2;     // no usable header part
constexpr int kResNotAvailable = 4;  // the exchange is not served yet

constexpr const char* kTestPage =
    "<html><head><title>Qovra exchange server</title></head>"
    "<body><p>Qovra exchange server</p></body></html>";

HttpReply NotFound() {
  HttpReply r;
  r.status = 404;
  r.content_type = "text/plain";
  r.body = "not found";
  return r;
}

}  // namespace

std::string PlainReply(int code) {
  return "<reply><res val=\"" + std::to_string(code) + "\"/></reply>";
}

Dispatcher::Dispatcher(ServerConfig config) : config_(std::move(config)) {}

HttpReply Dispatcher::Handle(const HttpRequest& request) {
  if (request.path == kProtocolPath) {
    if (request.method == "POST") return HandleExchange(request);
    if (request.method == "GET") {
      HttpReply r;
      r.content_type = "text/html";
      r.body = kTestPage;
      return r;
    }
    return NotFound();
  }
  if (request.method == "GET") {
    if (request.path == "/client/contacts_uzc.ecx") return HandleContacts("contacts_uzc.ecx");
    if (request.path == "/client/contacts_ru.ecx") return HandleContacts("contacts_ru.ecx");
  }
  return NotFound();
}

HttpReply Dispatcher::HandleExchange(const HttpRequest& request) {
  HttpReply reply;
  std::string boundary;
  std::vector<MultipartPart> parts;
  if (ParseMultipartBoundary(request.content_type, boundary) != MultipartStatus::Ok ||
      ParseMultipartBody(request.body, boundary, parts) != MultipartStatus::Ok) {
    reply.body = PlainReply(kResMalformed);
    return reply;
  }
  const MultipartPart* header = nullptr;
  for (const MultipartPart& p : parts) {
    if (p.name == "header") {
      header = &p;
      break;
    }
  }
  if (!header) {
    reply.body = PlainReply(kResMalformed);
    return reply;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  reply.body = PlainReply(kResNotAvailable);
  return reply;
}

HttpReply Dispatcher::HandleContacts(const std::string& file_name) {
  // Only the two fixed names reach here, so the path stays in the folder.
  std::ifstream in(config_.data_dir + "/client/" + file_name, std::ios::binary);
  if (!in) return NotFound();
  std::ostringstream content;
  content << in.rdbuf();
  HttpReply r;
  r.content_type = "application/xml";
  r.body = content.str();
  return r;
}

}  // namespace exchange

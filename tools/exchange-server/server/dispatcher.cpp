#include "dispatcher.h"

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "multipart.h"
#include "reply.h"

namespace exchange {

namespace {

constexpr const char* kTestPage =
    "<html><head><title>Qovra exchange server</title></head>"
    "<body><p>Qovra exchange server</p></body></html>";

HttpReply TextReply(int status, std::string text) {
  HttpReply r;
  r.status = status;
  r.content_type = "text/plain";
  r.body = std::move(text);
  return r;
}

HttpReply NotFound() {
  return TextReply(404, "not found");
}

}  // namespace

std::string PlainReply(int code) {
  return PlainReplyText(code);
}

Dispatcher::Dispatcher(ServerConfig config) : exchange_(std::move(config)) {}

bool Dispatcher::Init(std::string& error, std::vector<std::string>& warnings) {
  return exchange_.Init(error, warnings);
}

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
  if (request.method == "POST" && request.path == kFaultPath && exchange_.config().test_commands)
    return HandleFault(request);
  if (request.method == "GET") {
    if (request.path == "/client/contacts_uzc.ecx") return HandleContacts("contacts_uzc.ecx");
    if (request.path == "/client/contacts_ru.ecx") return HandleContacts("contacts_ru.ecx");
  }
  return NotFound();
}

HttpReply Dispatcher::NoSpace(const HttpRequest& request) const {
  if (request.path != kProtocolPath) return TextReply(507, "no space on the server");
  HttpReply r;
  r.body = PlainReplyText(kResNoSpace);
  return r;
}

HttpReply Dispatcher::HandleExchange(const HttpRequest& request) {
  std::string boundary;
  std::vector<MultipartSpan> parts;
  const MultipartSpan* header = nullptr;
  const MultipartSpan* content = nullptr;
  if (ParseMultipartBoundary(request.content_type, boundary) == MultipartStatus::Ok &&
      ParseMultipartRange(request.body, boundary, parts) == MultipartStatus::Ok) {
    for (const MultipartSpan& p : parts) {
      if (p.name == "header" && !header) header = &p;
      if (p.name == "content" && !content) content = &p;
    }
  }
  std::string header_bytes;
  if (header &&
      !request.body.Sub(header->offset, header->size).ReadAll(header_bytes, kMaxHeaderPart))
    header = nullptr;
  BodyRange content_range;
  if (content) content_range = request.body.Sub(content->offset, content->size);
  ExchangeReply out =
      exchange_.Handle(header ? &header_bytes : nullptr, content ? &content_range : nullptr);
  HttpReply reply;
  reply.body = std::move(out.body);
  reply.delivery = out.delivery;
  reply.tail = std::move(out.tail);
  return reply;
}

HttpReply Dispatcher::HandleFault(const HttpRequest& request) {
  std::string error, spec;
  if (!request.body.ReadAll(spec, 65536)) return TextReply(400, "fault spec too long");
  if (!exchange_.SetFault(spec, error)) return TextReply(400, error);
  return TextReply(200, "ok");
}

HttpReply Dispatcher::HandleContacts(const std::string& file_name) {
  // Only the two fixed names reach here, so the path stays in the folder.
  std::ifstream in(exchange_.config().data_dir + "/client/" + file_name, std::ios::binary);
  if (!in) return NotFound();
  std::ostringstream content;
  content << in.rdbuf();
  HttpReply r;
  r.content_type = "application/xml";
  r.body = content.str();
  return r;
}

}  // namespace exchange

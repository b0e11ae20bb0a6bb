#include "dispatcher.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "reply.h"

namespace exchange {

namespace {

constexpr const char* kHeaderPartName = "header";
constexpr const char* kContentPartName = "content";

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

std::vector<std::string> Dispatcher::PartsToKeep(std::string_view method, std::string_view path) {
  if (method == "POST" && path == kProtocolPath) return {kHeaderPartName, kContentPartName};
  return {};
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
  // A body that is not multipart, or not well-formed, has no parts.
  std::optional<BodyRange> header, content;
  if (request.parts) {
    header = request.parts->Part(kHeaderPartName);
    content = request.parts->Part(kContentPartName);
  }
  std::string header_bytes;
  if (header && !header->ReadAll(header_bytes, kMaxHeaderPart)) header.reset();
  ExchangeReply out =
      exchange_.Handle(header ? &header_bytes : nullptr, content ? &*content : nullptr);
  HttpReply reply;
  reply.body = std::move(out.body);
  reply.delivery = out.delivery;
  reply.drop_at = out.drop_at;
  reply.drop_from_end = out.drop_from_end;
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

#include "reply.h"

#include "envelope.h"
#include "server_crypto.h"
#include "string_form.h"

namespace exchange {

namespace {

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
}

void AppendElement(std::string& out, std::string_view name,
                   const std::vector<std::pair<std::string, std::string>>& attrs,
                   const std::vector<ReplyElement>& children = {}) {
  out += '<';
  out += name;
  for (const auto& [key, value] : attrs) {
    out += ' ';
    out += key;
    out += "=\"";
    AppendEscaped(out, value);
    out += '"';
  }
  if (children.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  for (const ReplyElement& c : children) AppendElement(out, c.name, c.attrs, c.children);
  out += "</";
  out += name;
  out += '>';
}

bool SignInto(const ServerIdentity& id, std::initializer_list<std::string_view> pieces,
              std::string& body) {
  crypto::Signature sig{};
  if (!crypto::Sign(crypto::Hash(pieces), id.priv, id.record, sig)) return false;
  body.append(crypto::View(sig));
  return true;
}

}  // namespace

bool IsBareFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') return false;
  }
  return name.find("..") == std::string_view::npos;
}

bool CommandReply::AttachFile(std::string name, int type, bool skip, std::string bytes) {
  if (!IsBareFileName(name)) return false;
  files.push_back(ReplyFile{std::move(name), type, skip, std::move(bytes)});
  return true;
}

std::string PlainReplyText(int code) {
  return "<reply><res val=\"" + std::to_string(code) + "\"/></reply>";
}

std::string ReplyXml(const CommandReply& reply) {
  std::string out;
  out += '<';
  out += reply.root;
  out += '>';
  AppendElement(out, "res", {{"val", std::to_string(reply.code)}});
  if (reply.code == kResOk) {
    for (const ReplyFile& f : reply.files) {
      AppendElement(out, "file",
                    {{"size", std::to_string(f.bytes.size())},
                     {"skip", f.skip ? "1" : "0"},
                     {"name", f.name},
                     {"type", std::to_string(f.type)}});
    }
    for (const ReplyElement& e : reply.elements) AppendElement(out, e.name, e.attrs, e.children);
  } else if (reply.code == 15 || reply.code == 16) {
    AppendElement(out, "registered", {{"val", reply.registered}});
  }
  out += "</";
  out += reply.root;
  out += '>';
  return out;
}

bool BuildHandshakeReply(const ServerIdentity& id, const uint8_t* sid32, std::string& body) {
  body.clear();
  uint8_t random3[3];
  crypto::RandomBytes(random3, sizeof random3);
  uint8_t header[kEnvelopeHeaderSize];
  WriteReplyHeader(random3, static_cast<uint32_t>(kSidSize + id.certificate.size()), header);
  body.append(crypto::View(header, sizeof header));
  body.append(crypto::View(sid32, kSidSize));
  body.append(id.certificate);
  return SignInto(id, {body}, body);
}

bool BuildSessionReply(const ServerIdentity& id, const uint8_t* key64, const uint8_t* sid32,
                       const CommandReply& reply, std::string& body) {
  body.clear();
  const std::string sealed = SealString(key64, sid32, ReplyXml(reply));
  if (sealed.empty()) return false;
  uint8_t random3[3];
  crypto::RandomBytes(random3, sizeof random3);
  uint8_t header[kEnvelopeHeaderSize];
  WriteReplyHeader(random3, static_cast<uint32_t>(sealed.size()), header);
  body.append(crypto::View(header, sizeof header));
  body.append(sealed);
  if (!SignInto(id, {body}, body)) return false;
  if (reply.code != kResOk) return true;
  for (const ReplyFile& f : reply.files) {
    if (f.bytes.empty()) continue;
    std::string wire;
    if (f.skip) {
      wire = f.bytes;
    } else {
      std::string padded = f.bytes;
      padded.resize(PaddedSize(f.bytes.size()), '\0');
      if (!crypto::Cbc(key64, sid32, padded, true, wire)) return false;
    }
    body.append(wire);
    if (!SignInto(id, {wire}, body)) return false;
  }
  return true;
}

}  // namespace exchange

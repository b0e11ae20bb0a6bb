#include "reply.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "body_range.h"
#include "envelope.h"
#include "reply_stream.h"
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

uint64_t ReplyFile::AnnouncedSize() const {
  return skip ? WireSize() : RawSize();
}

uint64_t ReplyFile::WireSize() const {
  return (!skip || seal) ? PaddedSize(RawSize()) : RawSize();
}

bool CommandReply::AttachFile(std::string name, int type, bool skip, std::string bytes) {
  if (!IsBareFileName(name)) return false;
  ReplyFile f;
  f.name = std::move(name);
  f.type = type;
  f.skip = skip;
  f.bytes = std::move(bytes);
  files.push_back(std::move(f));
  return true;
}

bool CommandReply::Attach(ReplyFile file) {
  if (!IsBareFileName(file.name)) return false;
  files.push_back(std::move(file));
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
                    {{"size", std::to_string(f.AnnouncedSize())},
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

bool BuildSessionReplyHead(const ServerIdentity& id, const uint8_t* key64, const uint8_t* sid32,
                           const CommandReply& reply, std::string& head) {
  head.clear();
  const std::string sealed = SealString(key64, sid32, ReplyXml(reply));
  if (sealed.empty()) return false;
  uint8_t random3[3];
  crypto::RandomBytes(random3, sizeof random3);
  uint8_t header[kEnvelopeHeaderSize];
  WriteReplyHeader(random3, static_cast<uint32_t>(sealed.size()), header);
  head.append(crypto::View(header, sizeof header));
  head.append(sealed);
  return SignInto(id, {head}, head);
}

uint64_t ReplyFilesSize(const CommandReply& reply) {
  if (reply.code != kResOk) return 0;
  uint64_t total = 0;
  for (const ReplyFile& f : reply.files)
    if (f.RawSize() > 0) total += f.WireSize() + crypto::kSignatureSize;
  return total;
}

bool WriteReplyFiles(const ServerIdentity& id, const uint8_t* key64, const uint8_t* sid32,
                     const CommandReply& reply, const ReplySink& sink) {
  if (reply.code != kResOk) return true;
  for (const ReplyFile& f : reply.files) {
    const uint64_t raw = f.RawSize();
    if (raw == 0) continue;
    const bool encipher = !f.skip || f.seal;
    crypto::CbcStream cbc;
    if (encipher && !cbc.Init(key64, f.seal ? f.seal_iv.data() : sid32, true)) return false;
    int fd = -1;
    if (!f.path.empty()) {
      fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return false;
    }
    const BodyRange source = fd >= 0 ? BodyRange::File(fd, 0, raw) : BodyRange::Memory(f.bytes);
    crypto::Hasher hash;
    const bool ok =
        StreamReplyFile(source, raw, f.WireSize(), encipher ? &cbc : nullptr, hash, sink);
    if (fd >= 0) ::close(fd);
    if (!ok) return false;
    crypto::Signature sig{};
    if (!crypto::Sign(hash.Final(), id.priv, id.record, sig)) return false;
    if (!sink(reinterpret_cast<const char*>(sig.data()), sig.size())) return false;
  }
  return true;
}

bool BuildSessionReply(const ServerIdentity& id, const uint8_t* key64, const uint8_t* sid32,
                       const CommandReply& reply, std::string& body) {
  if (!BuildSessionReplyHead(id, key64, sid32, reply, body)) return false;
  return WriteReplyFiles(id, key64, sid32, reply, [&body](const char* data, size_t n) {
    body.append(data, n);
    return true;
  });
}

}  // namespace exchange

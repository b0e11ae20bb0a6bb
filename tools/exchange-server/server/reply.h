// What a command answers, and the three reply forms written from it:
// plain XML (errors only), the handshake reply and the enciphered session
// reply with its files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "identity.h"

namespace exchange {

// Result codes the server uses.
enum ResultCode : int {
  kResOk = 1,
  kResMalformed = 2,
  kResLoginFailed = 3,
  kResUnknownCommand = 4,
  kResNotLoggedIn = 5,
  kResSessionExpired = 6,
  kResBadSignature = 7,
  kResUnknownCertificate = 8,
  kResKeyAgreementFailed = 9,
};

struct ReplyElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<ReplyElement> children;  // written inside, in order

  ReplyElement& Attr(std::string key, std::string value) {
    attrs.emplace_back(std::move(key), std::move(value));
    return *this;
  }
  // A new last child. The reference lasts until the next Child call here.
  ReplyElement& Child(std::string child_name) {
    children.push_back(ReplyElement{std::move(child_name), {}, {}});
    return children.back();
  }
};

// A file carried after the reply XML. skip: sent as given; otherwise sent
// enciphered under the session key from the session id.
struct ReplyFile {
  std::string name;
  int type = 1;
  bool skip = true;
  std::string bytes;
};

// A command's answer. code 1 is success; the files and elements are written
// only with code 1 (registered only with 15 and 16). plain asks for the
// plain form, which carries the code alone.
struct CommandReply {
  int code = kResOk;
  bool plain = false;
  std::string root = "reply";
  std::string registered;
  std::vector<ReplyElement> elements;
  std::vector<ReplyFile> files;

  static CommandReply Enciphered(int c) {
    CommandReply r;
    r.code = c;
    return r;
  }
  static CommandReply Plain(int c) {
    CommandReply r;
    r.code = c;
    r.plain = true;
    return r;
  }

  ReplyElement& Add(std::string name) {
    elements.push_back(ReplyElement{std::move(name), {}, {}});
    return elements.back();
  }

  // Attaches a file. name must be a bare file name (no "/", "\", ".", "..",
  // control characters or drive prefix); false and nothing attached
  // otherwise.
  [[nodiscard]] bool AttachFile(std::string name, int type, bool skip, std::string bytes);
};

// True for a name a client may store as given.
bool IsBareFileName(std::string_view name);

// "<reply><res val="N"/></reply>": at most 38 bytes, well below the 168
// at which a body counts as an envelope.
std::string PlainReplyText(int code);

// The reply XML: root, res, then the files, registered and the elements; no
// whitespace between elements; attribute values escaped.
std::string ReplyXml(const CommandReply& reply);

// The handshake reply: header, sid, the server certificate, signature.
[[nodiscard]] bool BuildHandshakeReply(const ServerIdentity& id, const uint8_t* sid32,
                                       std::string& body);

// The session reply: header, the sealed reply XML, its signature, then every
// file of a code-1 reply with size above 0, each followed by its signature.
[[nodiscard]] bool BuildSessionReply(const ServerIdentity& id, const uint8_t* key64,
                                     const uint8_t* sid32, const CommandReply& reply,
                                     std::string& body);

}  // namespace exchange

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
#include "reply_stream.h"

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
  kResOverUploadLimit = 12,
  kResNoSpace = 19,  // the server's disk has no room for what was sent
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
// enciphered under the session key from the session id. A file is either
// bytes in memory or path_size bytes of the file at path, read in chunks
// as the reply is written.
struct ReplyFile {
  std::string name;
  int type = 1;
  bool skip = true;
  std::string bytes;
  std::string path;  // non-empty: the bytes come from this file
  uint64_t path_size = 0;
  // With skip: sent as CBC under the session key from seal_iv, zero-padded
  // to whole blocks, and announced with that padded size.
  bool seal = false;
  crypto::Hash32 seal_iv{};

  uint64_t RawSize() const { return path.empty() ? bytes.size() : path_size; }
  // The size the file element announces, and the bytes it takes on the wire
  // (without its signature).
  uint64_t AnnouncedSize() const;
  uint64_t WireSize() const;
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
  // Attaches a prepared file (bytes or path), with the same check of its
  // name.
  [[nodiscard]] bool Attach(ReplyFile file);
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

// The same in two pieces, so that files are streamed: the head (header,
// sealed XML, signature) and the files written after it by WriteReplyFiles.
[[nodiscard]] bool BuildSessionReplyHead(const ServerIdentity& id, const uint8_t* key64,
                                         const uint8_t* sid32, const CommandReply& reply,
                                         std::string& head);

// The bytes WriteReplyFiles writes for reply.
uint64_t ReplyFilesSize(const CommandReply& reply);
// Writes every file of a code-1 reply with size above 0, each followed by
// the signature of its wire bytes, reading, enciphering and hashing in
// chunks of kStreamChunk overlapped with the writing (reply_stream.h). False when a file cannot be
// read (or is not path_size long), a key is refused, signing fails or sink refuses; what was
// written stays written.
[[nodiscard]] bool WriteReplyFiles(const ServerIdentity& id, const uint8_t* key64,
                                   const uint8_t* sid32, const CommandReply& reply,
                                   const ReplySink& sink);

}  // namespace exchange

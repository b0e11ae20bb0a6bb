// The protocol exchange: one header part in, one reply body out.
//
// Holds the server's state (identity, certificate registry, accounts,
// sessions, fault switch); Handle may be called from several connection
// threads at once. The registry and identity are read-only once Init
// returns; sessions and the fault switch have a lock each, held only to
// look up or store; the database has its own (accounts.h). Signatures, key
// agreement and ciphers run outside every lock. Every failure becomes the
// reply the protocol names; nothing the client sends can make it throw or
// crash.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "accounts.h"
#include "body_range.h"
#include "config.h"
#include "envelope.h"
#include "fault.h"
#include "identity.h"
#include "mail_store.h"
#include "registry.h"
#include "reply.h"
#include "sessions.h"

namespace exchange {

// How the HTTP layer delivers a reply.
enum class Delivery {
  Normal,
  Stall,  // never answer
  Drop,   // send part of the body, then close the connection
};

// The files of a session reply, written after its head as they are read.
struct ReplyTail {
  const ServerIdentity* identity = nullptr;
  crypto::CipherKey key{};
  SessionId sid{};
  CommandReply reply;

  ReplyTail() = default;
  ~ReplyTail() { crypto::Wipe(key.data(), key.size()); }
  ReplyTail(const ReplyTail&) = delete;
  ReplyTail& operator=(const ReplyTail&) = delete;

  uint64_t Size() const { return ReplyFilesSize(reply); }
  [[nodiscard]] bool Write(const ReplySink& sink) const {
    return WriteReplyFiles(*identity, key.data(), sid.data(), reply, sink);
  }
};

struct ExchangeReply {
  std::string body;  // the whole body, or its head when tail is set
  Delivery delivery = Delivery::Normal;
  // Delivery::Drop: the bytes sent before closing (0: half; with
  // drop_from_end, the bytes of the end that are not sent).
  uint64_t drop_at = 0;
  bool drop_from_end = false;
  std::shared_ptr<const ReplyTail> tail;  // streamed after body; may be null
};

class Exchange {
 public:
  explicit Exchange(ServerConfig config);

  // Loads the identity, the registry, the database (DATA/server.db) and
  // the seeded accounts, and sets the fault switch. False with a message
  // when any of them fails; warnings lists registry files that were
  // skipped.
  [[nodiscard]] bool Init(std::string& error, std::vector<std::string>& warnings);

  // Answers one protocol exchange. header is the header part, or nullptr
  // when the request had none or its body was not readable multipart;
  // content is the content part, or nullptr when there was none.
  ExchangeReply Handle(const std::string* header, const BodyRange* content = nullptr);

  // Removes expired sessions and gives their memory back; the HTTP layer
  // calls it about once a second, so an idle server shrinks too.
  void Housekeep();

  // Changes the fault switch (spec as in fault.h).
  [[nodiscard]] bool SetFault(std::string_view spec, std::string& error);

  const ServerConfig& config() const { return config_; }

 private:
  ExchangeReply Process(const std::string& part, const BodyRange* content);
  std::string Handshake(const RequestHeader& h);
  ExchangeReply SessionRequest(const std::string& part, const RequestHeader& h,
                               const BodyRange* content);
  bool SeedAccounts(std::string& error);
  // Parses the request XML and runs its command on s, a copy of the live
  // session sid, storing back what the command changed.
  CommandReply RunRequest(const std::string& xml, const SessionId& sid, Session& s,
                          const BodyRange* content);
  // True when content is longer than the upload limit of the account bound
  // to the session's certificate.
  bool OverUploadLimit(const Session& s, const BodyRange* content);

  std::mutex fault_mutex_;
  std::mutex sessions_mutex_;
  ServerConfig config_;
  std::unique_ptr<ServerIdentity> identity_;  // null: no handshakes served
  CertificateRegistry registry_;
  AccountStore accounts_;
  MailStore mail_;
  SessionTable sessions_;
  FaultSwitch fault_;
  std::string update_rule_;
};

}  // namespace exchange

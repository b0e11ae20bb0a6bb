// The protocol exchange: one header part in, one reply body out.
//
// Holds the server's state (identity, certificate registry, accounts,
// sessions, fault switch) behind one lock, so Handle may be called from
// several connection threads at once. Every failure becomes the reply the
// protocol names; nothing the client sends can make it throw or crash.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "accounts.h"
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

struct ExchangeReply {
  std::string body;
  Delivery delivery = Delivery::Normal;
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
  ExchangeReply Handle(const std::string* header, const std::string* content = nullptr);

  // Changes the fault switch (spec as in fault.h).
  [[nodiscard]] bool SetFault(std::string_view spec, std::string& error);

  const ServerConfig& config() const { return config_; }

 private:
  std::string Process(const std::string& part, const std::string* content);
  std::string Handshake(const RequestHeader& h);
  std::string SessionRequest(const std::string& part, const RequestHeader& h,
                             const std::string* content);
  bool SeedAccounts(std::string& error);

  std::mutex mutex_;
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

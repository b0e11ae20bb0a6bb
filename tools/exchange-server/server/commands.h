// Commands of session requests: the table of what each needs and the
// handlers. Add a command by writing its handler and giving it a row in
// commands.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "accounts.h"
#include "body_range.h"
#include "config.h"
#include "mail_store.h"
#include "registry.h"
#include "reply.h"
#include "request_xml.h"
#include "sessions.h"

namespace exchange {

// Replies with the files its request describes; served only with
// --test-commands. Each "file" child of the request gives name, type, skip
// and data (Base64 of the bytes); raw="1" lets a name through that the
// server would otherwise refuse.
inline constexpr int64_t kTestFilesCommand = 901;

// What a command may use. The exchange's lock is held for its whole run.
struct CommandContext {
  const ServerConfig& config;
  const CertificateRegistry& registry;
  AccountStore& accounts;
  Session& session;
  const RequestXml& request;
  const std::string& update_rule;  // the updater rule document offered at login
  MailStore& mail;
  const BodyRange* content;  // the request's content part; nullptr when it had none
};

// Runs the request's command: an unknown command gets the enciphered 4, a
// command that needs a login on a session without one the enciphered 5,
// and a command that could not write for want of disk space the enciphered
// 19 (write_failure.h).
CommandReply RunCommand(CommandContext& ctx);

// 161: login (full form with chash and cver) and re-authentication (xln
// alone).
CommandReply LoginCommand(CommandContext& ctx);

CommandReply TestFilesCommand(CommandContext& ctx);

}  // namespace exchange

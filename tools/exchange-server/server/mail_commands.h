// The mail commands of session requests, all on a logged-in session and
// for the session's account only: recipients' certificates (163), send
// (164), new mails and reports (165), download (166) and flags (170).
// Request values that name a user must name the session's account, else
// 14; a mail or copy not found is 13; a bad field value 18.
#pragma once

#include "commands.h"

namespace exchange {

inline constexpr int kResMailNotFound = 13;
inline constexpr int kResNotYourAccount = 14;
inline constexpr int kResBadValue = 18;

CommandReply RecipientCertificatesCommand(CommandContext& ctx);  // 163
CommandReply SendMailCommand(CommandContext& ctx);               // 164
CommandReply NewMailsCommand(CommandContext& ctx);               // 165
CommandReply DownloadMailCommand(CommandContext& ctx);           // 166
CommandReply MailFlagsCommand(CommandContext& ctx);              // 170

}  // namespace exchange

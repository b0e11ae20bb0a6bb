// The account commands of session requests: password change (162),
// registration (167), recovery question and new password (168, 169),
// profile change (171) and the update check (172).
//
// 167, 168 and 169 run on any session and act only for the certificate
// the session was made with: 167 binds it to a new account, 168 and 169
// serve only the account already bound to it, so a password reset needs
// that account's private key. 162 and 171 need a login and serve only the
// session's account. 172 answers from the server's configuration.
#pragma once

#include "commands.h"

namespace exchange {

// Recoveries an account may make; 169 is refused once they are used.
inline constexpr int kMaxRecoveries = 3;

CommandReply ChangePasswordCommand(CommandContext& ctx);   // 162
CommandReply RegisterCommand(CommandContext& ctx);         // 167
CommandReply ControlQuestionCommand(CommandContext& ctx);  // 168
CommandReply SetNewPasswordCommand(CommandContext& ctx);   // 169
CommandReply ChangeProfileCommand(CommandContext& ctx);    // 171
CommandReply UpdateCheckCommand(CommandContext& ctx);      // 172

}  // namespace exchange

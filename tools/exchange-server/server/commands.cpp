#include "commands.h"

#include "account_commands.h"
#include "mail_commands.h"
#include "write_failure.h"

namespace exchange {

namespace {

using Handler = CommandReply (*)(CommandContext&);

struct CommandEntry {
  int64_t cmd;
  bool needs_login;
  Handler run;  // nullptr: known to the protocol, not served yet
};

constexpr CommandEntry kCommands[] = {
    {161, false, &LoginCommand},
    {162, true, &ChangePasswordCommand},
    {163, true, &RecipientCertificatesCommand},
    {164, true, &SendMailCommand},
    {165, true, &NewMailsCommand},
    {166, true, &DownloadMailCommand},
    {167, false, &RegisterCommand},
    {168, false, &ControlQuestionCommand},
    {169, false, &SetNewPasswordCommand},
    {170, true, &MailFlagsCommand},
    {171, true, &ChangeProfileCommand},
    {172, true, &UpdateCheckCommand},
};

CommandReply Dispatch(CommandContext& ctx) {
  const int64_t cmd = ctx.request.cmd;
  if (cmd == kTestFilesCommand && ctx.config.test_commands) return TestFilesCommand(ctx);
  for (const CommandEntry& e : kCommands) {
    if (e.cmd != cmd) continue;
    if (e.needs_login && !ctx.session.authenticated)
      return CommandReply::Enciphered(kResNotLoggedIn);
    if (!e.run) break;
    return e.run(ctx);
  }
  return CommandReply::Enciphered(kResUnknownCommand);
}

}  // namespace

CommandReply RunCommand(CommandContext& ctx) {
  NoSpaceWatch watch;
  CommandReply reply = Dispatch(ctx);
  // A write the command could not make for want of space (already logged)
  // is code 19, whatever the command answered. What it stored before that
  // stays: a mail sent again finds its copies held (ok 2).
  if (watch.full()) return CommandReply::Enciphered(kResNoSpace);
  return reply;
}

}  // namespace exchange

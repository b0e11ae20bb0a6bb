#include "commands.h"

namespace exchange {

namespace {

using Handler = CommandReply (*)(CommandContext&);

struct CommandEntry {
  int64_t cmd;
  bool needs_login;
  Handler run;  // nullptr: known to the protocol, not served yet
};

constexpr CommandEntry kCommands[] = {
    {161, false, &LoginCommand}, {162, true, nullptr}, {163, true, nullptr},  {164, true, nullptr},
    {165, true, nullptr},        {166, true, nullptr}, {167, false, nullptr}, {168, false, nullptr},
    {169, false, nullptr},       {170, true, nullptr}, {171, true, nullptr},  {172, true, nullptr},
};

}  // namespace

CommandReply RunCommand(CommandContext& ctx) {
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

}  // namespace exchange

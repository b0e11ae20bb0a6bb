// Command 161: the key is the password hash followed by the session id, the
// vector the session id, and the sealed text the login name. A wrong
// password unseals to garbage, so every mismatch is the plain 3 that the
// login window takes silently.
#include <ctime>

#include "base64.h"
#include "commands.h"
#include "string_form.h"

namespace exchange {

namespace {

// Days left when fewer than this many remain are reported at login.
constexpr int64_t kValidityWarningDays = 30;

int64_t ValidityRemainDays(int64_t valid_to) {
  const int64_t left = valid_to - static_cast<int64_t>(std::time(nullptr));
  if (left <= 0) return 0;
  const int64_t days = (left + 86399) / 86400;
  return days < kValidityWarningDays ? days : 0;
}

}  // namespace

CommandReply LoginCommand(CommandContext& ctx) {
  const char* xln = ctx.request.Value("xln");
  if (!xln) return CommandReply::Enciphered(kResMalformed);
  const char* chash = ctx.request.Value("chash");
  const bool full = chash != nullptr || ctx.request.Has("cver");
  if (chash && std::string_view(chash) != xln) return CommandReply::Enciphered(kResMalformed);

  const std::optional<Account> account = ctx.accounts.FindByCertificate(ctx.session.cert_hash);
  if (!account) return CommandReply::Plain(kResLoginFailed);
  std::string sealed;
  if (!Base64Decode(xln, sealed)) return CommandReply::Plain(kResLoginFailed);

  uint8_t key[64];
  std::copy(account->password_hash.begin(), account->password_hash.end(), key);
  std::copy(ctx.session.sid.begin(), ctx.session.sid.end(), key + 32);
  std::string name;
  const UnsealStatus status = UnsealString(key, ctx.session.sid.data(), sealed, name);
  crypto::Wipe(key, sizeof key);
  if (status != UnsealStatus::Ok || name != account->login)
    return CommandReply::Plain(kResLoginFailed);

  ctx.session.authenticated = true;
  ctx.session.account = account->id;

  CommandReply reply;
  reply.Add("fname").Attr("val", Base64Encode(account->fname));
  reply.Add("mname").Attr("val", Base64Encode(account->mname));
  reply.Add("lname").Attr("val", Base64Encode(account->lname));
  reply.Add("company").Attr("val", Base64Encode(account->company));
  reply.Add("jobtitle").Attr("val", Base64Encode(account->jobtitle));
  reply.Add("level").Attr("val", std::to_string(account->level));
  reply.Add("maxus").Attr("val", std::to_string(account->upload_limit));
  if (!full) return reply;

  const RegisteredCertificate* cert = ctx.registry.Find(ctx.session.cert_hash);
  reply.Add("cert_validity")
      .Attr("remain", std::to_string(cert ? ValidityRemainDays(cert->valid_to) : 0));
  reply.Add("cert").Attr("val", Base64Encode(account->certificate));
  if (!ctx.config.client_version.empty()) {
    reply.Add("qovra_client")
        .Attr("ver", ctx.config.client_version)
        .Attr("url", ctx.config.update_url)
        .Attr("rule", Base64Encode(ctx.update_rule));
  }
  return reply;
}

}  // namespace exchange

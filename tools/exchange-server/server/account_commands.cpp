#include "account_commands.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "base64.h"

namespace exchange {

namespace {

// Result codes of these commands beyond the common ones.
constexpr int kWrongPassword = 10;
constexpr int kAccountNotFound = 11;
constexpr int kNotThisAccount = 14;
constexpr int kCertificateRegistered = 15;
constexpr int kLoginTaken = 16;
constexpr int kChancesUsed = 17;
constexpr int kInvalidField = 18;

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

// 4 to 32 of "-", ".", digits, Latin letters and "_".
bool IsValidLogin(std::string_view login) {
  if (login.size() < 4 || login.size() > 32) return false;
  for (char c : login) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 64 hexadecimal digits (either case) into 32 bytes.
bool ParseHashHex(const char* text, crypto::Hash32& out) {
  if (!text || std::strlen(text) != 64) return false;
  for (size_t i = 0; i < out.size(); ++i) {
    const int hi = HexDigit(text[2 * i]);
    const int lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

bool SameHash(const crypto::Hash32& a, const crypto::Hash32& b) {
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

// The value of name decoded from Base64; nullopt when missing or not Base64.
std::optional<std::string> DecodedValue(const RequestXml& request, const char* name) {
  const char* text = request.Value(name);
  std::string bytes;
  if (!text || !Base64Decode(text, bytes)) return std::nullopt;
  return bytes;
}

// The five profile fields (Base64 of UTF-8) into names; false when one is
// missing or not Base64.
bool ReadNames(const RequestXml& request, Account& names) {
  const struct {
    const char* element;
    std::string Account::*field;
  } fields[] = {{"fname", &Account::fname},
                {"mname", &Account::mname},
                {"lname", &Account::lname},
                {"company", &Account::company},
                {"jobtitle", &Account::jobtitle}};
  for (const auto& f : fields) {
    std::optional<std::string> value = DecodedValue(request, f.element);
    if (!value) return false;
    names.*f.field = std::move(*value);
  }
  return true;
}

// The served domain that the host part of text names, without case; empty
// when none does. The client sends its server address, which may carry a
// port.
std::string ServedDomain(const ServerConfig& config, std::string_view text) {
  const size_t colon = text.find(':');
  const std::string_view host = text.substr(0, colon);
  for (const std::string& d : config.domains)
    if (SameAscii(d, host)) return d;
  return {};
}

// A key-agreement value the server can use: 1 < y < p, p being record
// bytes 0-127 (every user record shares them with the server's).
bool UsableDhValue(const std::string& y, const crypto::Record& record) {
  if (y.size() != 128) return false;
  bool small = y[127] == 0 || y[127] == 1;
  for (size_t i = 0; small && i < 127; ++i) small = y[i] == 0;
  return !small && std::memcmp(y.data(), record.data(), 128) < 0;
}

// The logged-in session's account, when the request's login names it.
// code is set when it does not.
std::optional<Account> SessionAccount(CommandContext& ctx, int& code) {
  std::optional<Account> account = ctx.accounts.FindByCertificate(ctx.session.cert_hash);
  if (!account || !ctx.session.account || account->id != *ctx.session.account) {
    code = kAccountNotFound;
    return std::nullopt;
  }
  const char* login = ctx.request.Value("login");
  if (!login) {
    code = kResMalformed;
    return std::nullopt;
  }
  if (!SameAscii(login, account->login)) {
    code = kNotThisAccount;
    return std::nullopt;
  }
  return account;
}

// The account bound to the session's certificate, when the request's login
// names it; logged in or not.
std::optional<Account> CertificateAccount(CommandContext& ctx, int& code) {
  const char* login = ctx.request.Value("login");
  if (!login) {
    code = kResMalformed;
    return std::nullopt;
  }
  std::optional<Account> account = ctx.accounts.FindByCertificate(ctx.session.cert_hash);
  if (!account) {
    code = kAccountNotFound;
    return std::nullopt;
  }
  if (!SameAscii(login, account->login)) {
    code = kNotThisAccount;
    return std::nullopt;
  }
  return account;
}

}  // namespace

CommandReply ChangePasswordCommand(CommandContext& ctx) {
  int code = kResOk;
  const std::optional<Account> account = SessionAccount(ctx, code);
  if (!account) return CommandReply::Enciphered(code);
  crypto::Hash32 current{}, fresh{};
  if (!ParseHashHex(ctx.request.Value("curp"), current) ||
      !ParseHashHex(ctx.request.Value("newp"), fresh))
    return CommandReply::Enciphered(kInvalidField);
  if (!SameHash(current, account->password_hash)) return CommandReply::Enciphered(kWrongPassword);
  if (!ctx.accounts.SetPassword(account->id, fresh))
    return CommandReply::Enciphered(kAccountNotFound);
  return CommandReply{};
}

CommandReply RegisterCommand(CommandContext& ctx) {
  const RequestXml& rq = ctx.request;
  Account a;
  const char* login = rq.Value("login");
  const char* domain = rq.Value("domain");
  const char* question = rq.Value("question");
  int64_t question_no = 0;
  if (!login || !domain || !question) return CommandReply::Enciphered(kResMalformed);
  if (!IsValidLogin(login) || !ParseHashHex(rq.Value("passcode"), a.password_hash) ||
      !ParseDecimal(question, question_no) || question_no < 1 || question_no > 5 ||
      !ReadNames(rq, a))
    return CommandReply::Enciphered(kInvalidField);
  a.login = login;
  a.domain = ServedDomain(ctx.config, domain);
  if (a.domain.empty()) return CommandReply::Enciphered(kInvalidField);
  a.question = static_cast<int>(question_no);
  // The answer is kept as sent; 168 hands it back for the client's check.
  const char* answer = rq.Value("answer");
  std::string answer_bytes;
  if (!answer || !Base64Decode(answer, answer_bytes) || answer_bytes.empty())
    return CommandReply::Enciphered(kInvalidField);
  a.answer = answer;
  std::optional<std::string> dhkey = DecodedValue(rq, "dhkey");
  if (!dhkey || !UsableDhValue(*dhkey, *ctx.session.user_record))
    return CommandReply::Enciphered(kInvalidField);
  a.dhkey = std::move(*dhkey);

  if (ctx.accounts.FindByLogin(a.login, a.domain)) {
    CommandReply r = CommandReply::Enciphered(kLoginTaken);
    r.registered = a.login;
    return r;
  }
  if (const std::optional<Account> bound = ctx.accounts.FindByCertificate(ctx.session.cert_hash)) {
    CommandReply r = CommandReply::Enciphered(kCertificateRegistered);
    r.registered = bound->login;
    return r;
  }
  const RegisteredCertificate* cert = ctx.registry.Find(ctx.session.cert_hash);
  if (!cert) return CommandReply::Enciphered(kResUnknownCertificate);
  a.cert_hash = cert->hash;
  a.certificate = cert->bytes;
  if (!ctx.accounts.Create(a)) return CommandReply::Enciphered(kResMalformed);
  return CommandReply{};
}

CommandReply ControlQuestionCommand(CommandContext& ctx) {
  int code = kResOk;
  const std::optional<Account> account = CertificateAccount(ctx, code);
  if (!account) return CommandReply::Enciphered(code);
  // With its chances used the count tells the client to refuse; a later
  // 169 is refused here as well.
  CommandReply reply;
  reply.Add("question").Attr("val", std::to_string(account->question));
  reply.Add("answer").Attr("val", account->answer);
  reply.Add("count").Attr("val", std::to_string(account->recovery_count));
  return reply;
}

CommandReply SetNewPasswordCommand(CommandContext& ctx) {
  int code = kResOk;
  const std::optional<Account> account = CertificateAccount(ctx, code);
  if (!account) return CommandReply::Enciphered(code);
  crypto::Hash32 fresh{};
  if (!ParseHashHex(ctx.request.Value("newp"), fresh))
    return CommandReply::Enciphered(kInvalidField);
  if (!ctx.accounts.RecoverPassword(account->id, fresh, kMaxRecoveries))
    return CommandReply::Enciphered(kChancesUsed);
  return CommandReply{};
}

CommandReply ChangeProfileCommand(CommandContext& ctx) {
  int code = kResOk;
  const std::optional<Account> account = SessionAccount(ctx, code);
  if (!account) return CommandReply::Enciphered(code);
  Account names;
  if (!ReadNames(ctx.request, names)) return CommandReply::Enciphered(kInvalidField);
  if (!ctx.accounts.SetProfile(account->id, names))
    return CommandReply::Enciphered(kAccountNotFound);
  return CommandReply{};
}

CommandReply UpdateCheckCommand(CommandContext& ctx) {
  if (!ctx.request.Has("cver")) return CommandReply::Enciphered(kResMalformed);
  CommandReply reply;
  // Nothing configured: no element, which the client reads as "no update".
  if (!ctx.config.client_version.empty()) {
    reply.Add("qovra_client")
        .Attr("ver", ctx.config.client_version)
        .Attr("rule", Base64Encode(ctx.update_rule));
  }
  return reply;
}

}  // namespace exchange

#include "exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "request_log.h"
#include "request_xml.h"
#include "string_form.h"

namespace exchange {

namespace {

bool IsServedDomain(const ServerConfig& config, const std::string& domain) {
  for (const std::string& d : config.domains) {
    if (d.size() == domain.size() &&
        std::equal(d.begin(), d.end(), domain.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return true;
  }
  return false;
}

}  // namespace

Exchange::Exchange(ServerConfig config)
    : config_(std::move(config)),
      sessions_(std::chrono::seconds(config_.session_timeout), config_.max_sessions) {}

bool Exchange::Init(std::string& error, std::vector<std::string>& warnings) {
  if (!config_.server_cert_path.empty()) {
    identity_ = std::make_unique<ServerIdentity>();
    if (!LoadServerIdentity(config_.server_cert_path, config_.server_key_path, *identity_, error))
      return false;
  }
  if (!config_.registry_dir.empty() &&
      !registry_.Load(config_.registry_dir, config_.authority_path, warnings, error))
    return false;
  if (!accounts_.Open(config_.data_dir + "/server.db", error) ||
      !mail_.Open(accounts_.Database(), accounts_.Mutex(), config_.data_dir + "/mail", error) ||
      !SeedAccounts(error))
    return false;
  if (!config_.update_rule_path.empty() && !ReadWholeFile(config_.update_rule_path, update_rule_)) {
    error = "cannot read " + config_.update_rule_path;
    return false;
  }
  Fault f;
  if (!config_.fault.empty()) {
    if (!ParseFault(config_.fault, f, error)) return false;
    fault_.Set(f);
  }
  return true;
}

bool Exchange::SeedAccounts(std::string& error) {
  std::vector<SeedAccount> seeds;
  for (const SeedSpec& spec : config_.seeds) {
    const std::string address = spec.login + "@" + spec.domain;
    if (!IsServedDomain(config_, spec.domain)) {
      error = address + ": the domain is not served";
      return false;
    }
    const RegisteredCertificate* cert = nullptr;
    if (spec.cert_path.empty()) {
      cert = registry_.FindFile(address + ".cer");
    } else {
      std::string bytes;
      crypto::Record record{};
      int64_t valid_to = 0;
      if (!ReadWholeFile(spec.cert_path, bytes) || !ParseCertificate(bytes, record, valid_to)) {
        error = address + ": cannot read the certificate " + spec.cert_path;
        return false;
      }
      cert = registry_.Find(crypto::Hash(crypto::View(record)));
    }
    if (!cert) {
      error = address + ": its certificate is not in the registry";
      return false;
    }
    SeedAccount a;
    a.login = spec.login;
    a.domain = spec.domain;
    a.password_hash = crypto::Hash(spec.password);
    a.cert_hash = cert->hash;
    a.certificate = cert->bytes;
    a.upload_limit = config_.upload_limit;
    seeds.push_back(std::move(a));
  }
  return seeds.empty() || accounts_.Seed(seeds, error);
}

void Exchange::Housekeep() {
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  sessions_.Sweep(SessionClock::now());
}

bool Exchange::SetFault(std::string_view spec, std::string& error) {
  Fault f;
  if (!ParseFault(spec, f, error)) return false;
  std::lock_guard<std::mutex> lock(fault_mutex_);
  fault_.Set(f);
  return true;
}

ExchangeReply Exchange::Handle(const std::string* header, const BodyRange* content) {
  ExchangeReply out;
  {
    std::lock_guard<std::mutex> lock(fault_mutex_);
    const Fault& f = fault_.Current();
    switch (f.kind) {
      case FaultKind::PlainCode:
        out.body = PlainReplyText(f.code);
        fault_.Applied();
        return out;
      case FaultKind::PlainLength:
        if (!PaddedPlainReply(f.code, f.length, out.body)) out.body = PlainReplyText(f.code);
        fault_.Applied();
        return out;
      case FaultKind::Stall:
        out.delivery = Delivery::Stall;
        fault_.Applied();
        return out;
      default:
        break;
    }
  }
  if (header) {
    out = Process(*header, content);
  } else {
    out.body = PlainReplyText(kResMalformed);
  }
  std::lock_guard<std::mutex> lock(fault_mutex_);
  const FaultKind kind = fault_.Current().kind;
  if ((kind == FaultKind::CheckByte || kind == FaultKind::PayloadByte ||
       kind == FaultKind::SignatureByte) &&
      CorruptEnvelope(kind, out.body)) {
    fault_.Applied();
  } else if (kind == FaultKind::Drop) {
    out.delivery = Delivery::Drop;
    out.drop_at = fault_.Current().length;
    out.drop_from_end = fault_.Current().from_end;
    fault_.Applied();
  }
  return out;
}

ExchangeReply Exchange::Process(const std::string& part, const BodyRange* content) {
  RequestHeader h;
  ExchangeReply out;
  if (ParseRequestHeader(part, h) != HeaderStatus::Ok) {
    out.body = PlainReplyText(kResMalformed);
  } else if (h.form == RequestForm::Handshake) {
    out.body = Handshake(h);
  } else {
    out = SessionRequest(part, h, content);
  }
  return out;
}

std::string Exchange::Handshake(const RequestHeader& h) {
  if (!identity_) return PlainReplyText(kResKeyAgreementFailed);
  const ServerIdentity& id = *identity_;
  crypto::Hash32 cert_hash{};
  std::copy_n(h.material, cert_hash.size(), cert_hash.begin());
  const RegisteredCertificate* cert = registry_.Find(cert_hash);
  if (!cert) return PlainReplyText(kResUnknownCertificate);
  if (!crypto::Verify(crypto::Hash(h.signed_bytes), cert->record, h.signature))
    return PlainReplyText(kResBadSignature);
  // Keys of another domain cannot agree a key with the server's.
  if (std::memcmp(cert->record.data(), id.record.data(), 160) != 0 ||
      std::memcmp(cert->record.data() + 448, id.record.data() + 448, 32) != 0)
    return PlainReplyText(kResUnknownCertificate);

  // The client's key-agreement value: appended, else registered with the
  // account, else the certificate's own.
  const std::optional<Account> account = accounts_.FindByCertificate(cert_hash);
  std::array<uint8_t, kDhValueSize> y{};
  if (h.dh_appended) {
    std::copy_n(h.material + kSidSize, y.size(), y.begin());
  } else if (account && account->dhkey.size() == y.size()) {
    std::copy(account->dhkey.begin(), account->dhkey.end(), y.begin());
  } else {
    std::copy_n(cert->record.begin() + 288, y.size(), y.begin());
  }
  // Refuse 0, 1 and values not below the modulus (record bytes 0-127).
  static constexpr uint8_t kOne[kDhValueSize - 1] = {};
  const bool small = std::memcmp(y.data(), kOne, sizeof kOne) == 0 && y.back() <= 1;
  if (small || std::memcmp(y.data(), id.record.data(), y.size()) >= 0)
    return PlainReplyText(kResUnknownCertificate);

  crypto::Record client = id.record;
  std::copy(y.begin(), y.end(), client.begin() + 288);
  Session s;
  if (!crypto::AgreeKey(id.priv, id.record, client, s.key) || !crypto::KeyUsable(s.key.data()))
    return PlainReplyText(kResKeyAgreementFailed);

  // Bytes 0 and 8 non-zero keep the share of the session id long in the
  // keys made from it.
  s.cert_hash = cert_hash;
  s.user_record = &cert->record;
  if (account) s.account = account->id;
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    const SessionClock::time_point now = SessionClock::now();
    sessions_.Sweep(now);
    do {
      crypto::RandomBytes(s.sid.data(), s.sid.size());
    } while (s.sid[0] == 0 || s.sid[8] == 0 || sessions_.Contains(s.sid));
    s.last_use = now;
  }
  std::string body;
  if (!BuildHandshakeReply(id, s.sid.data(), body)) return PlainReplyText(kResKeyAgreementFailed);
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  if (sessions_.Contains(s.sid)) return PlainReplyText(kResKeyAgreementFailed);
  if (!sessions_.Add(std::move(s), SessionClock::now())) {
    std::fprintf(stderr, "exchange-server: handshake refused: %zu logged-in sessions held\n",
                 sessions_.size());
    return PlainReplyText(kResKeyAgreementFailed);
  }
  return body;
}

ExchangeReply Exchange::SessionRequest(const std::string& part, const RequestHeader& h,
                                       const BodyRange* content) {
  ExchangeReply out;
  SessionId sid{};
  std::copy(h.sid.begin(), h.sid.end(), sid.begin());
  // The command runs on a copy of the session (without its replay set);
  // what a command changes is stored back afterwards.
  Session s;
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    const Session* live = sessions_.Find(sid, SessionClock::now());
    if (!live) {
      out.body = PlainReplyText(kResSessionExpired);
      return out;
    }
    s.sid = live->sid;
    s.key = live->key;
    s.cert_hash = live->cert_hash;
    s.user_record = live->user_record;
    s.account = live->account;
    s.authenticated = live->authenticated;
    s.last_use = live->last_use;
  }
  if (!crypto::Verify(crypto::Hash(h.signed_bytes), *s.user_record, h.signature)) {
    out.body = PlainReplyText(kResBadSignature);
    return out;
  }
  const crypto::Hash32 request_hash = crypto::Hash(part);
  {
    std::lock_guard<std::mutex> lock(sessions_mutex_);
    const SessionClock::time_point now = SessionClock::now();
    Session* live = sessions_.Find(sid, now);
    if (!live) {
      out.body = PlainReplyText(kResSessionExpired);
      return out;
    }
    // The request carries no counter: a repeat of an accepted one is refused.
    if (!live->seen.insert(request_hash).second) {
      out.body = PlainReplyText(kResBadSignature);
      return out;
    }
    live->last_use = now;
  }

  std::string xml;
  if (UnsealString(s.key.data(), sid.data(), h.sealed_xml, xml) != UnsealStatus::Ok) {
    out.body = PlainReplyText(kResMalformed);
    return out;
  }
  if (config_.test_commands) AppendRequestLog(config_.data_dir, xml);

  CommandReply reply;
  bool faulted = false;
  {
    std::lock_guard<std::mutex> lock(fault_mutex_);
    const Fault& f = fault_.Current();
    if (f.kind == FaultKind::EncipheredCode) {
      reply = CommandReply::Enciphered(f.code);
      reply.registered = f.registered;
      fault_.Applied();
      faulted = true;
    }
  }
  if (!faulted) reply = RunRequest(xml, sid, s, content);
  // A plain reply never carries success: the client would take it as a
  // silent failure.
  if (reply.plain && reply.code != kResOk) {
    out.body = PlainReplyText(reply.code);
    return out;
  }
  if (!identity_ || !BuildSessionReplyHead(*identity_, s.key.data(), sid.data(), reply, out.body)) {
    out.body = PlainReplyText(kResMalformed);
    return out;
  }
  if (ReplyFilesSize(reply) > 0) {
    auto tail = std::make_shared<ReplyTail>();
    tail->identity = identity_.get();
    tail->key = s.key;
    tail->sid = sid;
    tail->reply = std::move(reply);
    out.tail = std::move(tail);
  }
  return out;
}

CommandReply Exchange::RunRequest(const std::string& xml, const SessionId& sid, Session& s,
                                  const BodyRange* content) {
  RequestXml request;
  std::string why;
  if (!ParseRequestXml(xml, request, why)) return CommandReply::Enciphered(kResMalformed);
  if (OverUploadLimit(s, content)) return CommandReply::Enciphered(kResOverUploadLimit);
  CommandContext ctx{config_, registry_, accounts_, s, request, update_rule_, mail_, content};
  CommandReply reply = RunCommand(ctx);
  // What the command changed in its copy of the session.
  std::lock_guard<std::mutex> lock(sessions_mutex_);
  sessions_.SetLogin(sid, s.authenticated, s.account, SessionClock::now());
  return reply;
}

bool Exchange::OverUploadLimit(const Session& s, const BodyRange* content) {
  if (!content || content->size() == 0) return false;
  const std::optional<Account> a = accounts_.FindByCertificate(s.cert_hash);
  return a && a->upload_limit > 0 && content->size() > static_cast<uint64_t>(a->upload_limit);
}

}  // namespace exchange

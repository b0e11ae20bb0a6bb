#include "mail_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base64.h"
#include "body_range.h"
#include "identity.h"
#include "mail_store.h"
#include "sign_container.h"
#include "string_form.h"
#include "write_failure.h"

namespace exchange {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsServed(const ServerConfig& config, std::string_view domain) {
  return std::any_of(config.domains.begin(), config.domains.end(),
                     [&](const std::string& d) { return EqualNoCase(d, domain); });
}

bool IsHex(std::string_view s, size_t n) {
  return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

bool IsDigits(std::string_view s) {
  return !s.empty() && s.size() <= 16 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The session's account, the one bound to its certificate.
std::optional<Account> SessionAccount(CommandContext& ctx) {
  std::optional<Account> a = ctx.accounts.FindByCertificate(ctx.session.cert_hash);
  if (a && ctx.session.account && *ctx.session.account != a->id) return std::nullopt;
  return a;
}

std::string Address(const Account& a) {
  return a.login + "@" + a.domain;
}

bool ValueInt(const RequestXml& r, const char* name, int64_t& out) {
  const char* v = r.Value(name);
  return v && ParseDecimal(v, out);
}

enum class ContentStatus { Ok, Missing, BadLength, KeyRefused, NotStored };

// The longest content read into memory whole (recipient lists).
constexpr uint64_t kMaxMemoryContent = uint64_t{16} << 20;

// The content part deciphered under the session key and cut to size; its
// wire length must be exactly size padded to whole blocks.
ContentStatus OpenContent(const CommandContext& ctx, int64_t size, std::string& plain) {
  plain.clear();
  if (!ctx.content) return ContentStatus::Missing;
  if (size < 0 || ctx.content->size() != PaddedSize(static_cast<uint64_t>(size)))
    return ContentStatus::BadLength;
  if (size == 0) return ContentStatus::Ok;
  std::string wire;
  if (!ctx.content->ReadAll(wire, kMaxMemoryContent)) return ContentStatus::BadLength;
  if (!crypto::Cbc(ctx.session.key.data(), ctx.session.sid.data(), wire, false, plain))
    return ContentStatus::KeyRefused;
  plain.resize(static_cast<size_t>(size));
  return ContentStatus::Ok;
}

// The same for a fast-mode package, streamed: the first body_size plain
// bytes go to the open file fd, the rest (up to size) to rest. The disk
// space of the content is given back as it is read. NotStored (errno set)
// when fd cannot take the bytes.
ContentStatus OpenPackage(const CommandContext& ctx, int64_t size, int64_t body_size, int fd,
                          std::string& rest) {
  rest.clear();
  if (!ctx.content) return ContentStatus::Missing;
  const uint64_t total = static_cast<uint64_t>(size), body = static_cast<uint64_t>(body_size);
  if (size < 0 || ctx.content->size() != PaddedSize(total)) return ContentStatus::BadLength;
  if (total - body > kMaxMemoryContent) return ContentStatus::BadLength;
  if (total == 0) return ContentStatus::Ok;
  crypto::CbcStream cbc;
  if (!cbc.Init(ctx.session.key.data(), ctx.session.sid.data(), false))
    return ContentStatus::KeyRefused;
  std::vector<char> buf(kStreamChunk);
  for (uint64_t done = 0; done < ctx.content->size();) {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(buf.size(), ctx.content->size() - done));
    if (!ctx.content->Read(done, buf.data(), n)) return ContentStatus::BadLength;
    cbc.Process(reinterpret_cast<uint8_t*>(buf.data()), n);
    // Split the chunk at the end of the body and at the stated size.
    const uint64_t end = done + n;
    const size_t to_body = done < body ? static_cast<size_t>(std::min(end, body) - done) : 0;
    if (to_body > 0 && !WriteAllFd(fd, buf.data(), to_body)) return ContentStatus::NotStored;
    ctx.content->Release(done, n);
    if (end > body && done < total) {
      const uint64_t from = std::max(done, body), to = std::min(end, total);
      rest.append(buf.data() + (from - done), static_cast<size_t>(to - from));
    }
    done = end;
  }
  return ContentStatus::Ok;
}

// The end of the body files' names (MailStore::NewPartFile).
constexpr std::string_view kPartSuffix = ".part";

// A body file being prepared for delivery; removed when it goes (its
// delivered copies are links of their own).
class PartFile {
 public:
  explicit PartFile(const MailStore& mail) : path_(mail.NewPartFile(fd_)) {}
  ~PartFile() {
    Close();
    if (!path_.empty()) std::remove(path_.c_str());
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool Close() {
    const bool closed = fd_ < 0 || ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }
  const std::string& path() const { return path_; }
  // Makes content the body: a whole file of its own is linked under a name
  // beside this one, which it replaces as the body; else it is copied in,
  // each chunk's disk space given back as it goes. False (errno set) when
  // it cannot.
  bool Take(const BodyRange& content) {
    if (path_.ends_with(kPartSuffix)) {
      std::string linked = path_;
      linked.insert(linked.size() - kPartSuffix.size(), "-content");
      if (content.LinkAs(linked)) {
        std::remove(path_.c_str());
        path_ = std::move(linked);
        return Close();
      }
    }
    return content.MoveTo(fd_) && Close();
  }

 private:
  int fd_ = -1;
  std::string path_;
};

int ContentError(ContentStatus s) {
  return s == ContentStatus::KeyRefused ? kResKeyAgreementFailed : kResMalformed;
}

// Reports why the mail uuid from sender could not be kept (error: an
// errno); the answer is the generic failure, which RunCommand turns into
// no space when that was the cause.
CommandReply NotKept(const std::string& sender, const char* uuid, const char* step, int error) {
  ReportWriteFailure(std::string("cannot keep mail ") + uuid + " from " + sender + ": " + step,
                     error);
  return CommandReply::Enciphered(kResMalformed);
}

// The emails list of a request or content: the document element must be
// "emails"; DOCTYPEs are refused.
bool ParseEmails(std::string_view text, pugi::xml_document& doc, pugi::xml_node& emails) {
  const pugi::xml_parse_result r = doc.load_buffer(
      text.data(), text.size(), pugi::parse_default | pugi::parse_doctype, pugi::encoding_utf8);
  if (!r) return false;
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_doctype) return false;
  emails = doc.document_element();
  return emails && EqualNoCase(emails.name(), "emails");
}

// Element children called name, compared without case.
template <typename F>
void ForChildren(pugi::xml_node parent, const char* name, F f) {
  for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_element && EqualNoCase(n.name(), name)) f(n);
}

}  // namespace

CommandReply RecipientCertificatesCommand(CommandContext& ctx) {
  int64_t size = 0;
  const char* sign = ctx.request.Value("sign");
  if (!ValueInt(ctx.request, "size", size) || !sign) return CommandReply::Enciphered(kResMalformed);
  std::string emails_text;
  const ContentStatus cs = OpenContent(ctx, size, emails_text);
  if (cs != ContentStatus::Ok) return CommandReply::Enciphered(ContentError(cs));
  std::string signature;
  if (!Base64Decode(sign, signature) ||
      !crypto::Verify(crypto::Hash(emails_text), *ctx.session.user_record, signature))
    return CommandReply::Enciphered(kResBadSignature);

  pugi::xml_document doc;
  pugi::xml_node emails;
  if (!ParseEmails(emails_text, doc, emails)) return CommandReply::Enciphered(kResMalformed);

  CommandReply reply;
  ReplyElement& out = reply.Add("emails");
  ForChildren(emails, "domain", [&](pugi::xml_node d) {
    const std::string domain = d.attribute("val").value();
    const bool served = IsServed(ctx.config, domain);
    ReplyElement& od = out.Child("domain").Attr("val", domain).Attr("prx", served ? "1" : "0");
    if (!served) return;
    ForChildren(d, "login", [&](pugi::xml_node l) {
      const std::string login = l.attribute("val").value();
      ReplyElement& ol = od.Child("login").Attr("val", login);
      const std::optional<Account> a = ctx.accounts.FindByLogin(login, domain);
      if (!a) {
        ol.Attr("cert", "3");
        return;
      }
      ol.Attr("cert", Base64Encode(a->certificate))
          .Attr("dhk", Base64Encode(a->dhkey))
          .Attr("fn", Base64Encode(a->fname))
          .Attr("mn", Base64Encode(a->mname))
          .Attr("ln", Base64Encode(a->lname))
          .Attr("co", Base64Encode(a->company))
          .Attr("jt", Base64Encode(a->jobtitle));
    });
  });
  return reply;
}

CommandReply SendMailCommand(CommandContext& ctx) {
  const std::optional<Account> me = SessionAccount(ctx);
  if (!me) return CommandReply::Enciphered(kResNotLoggedIn);
  const char* from = ctx.request.Value("from");
  const char* id = ctx.request.Value("id");
  const char* sign = ctx.request.Value("sign");
  int64_t mode = 0, size = 0, csize = 0, flag = 0, priority = 0;
  if (!from || !id || !sign || !ValueInt(ctx.request, "mode", mode) ||
      !ValueInt(ctx.request, "size", size) || !ValueInt(ctx.request, "csize", csize))
    return CommandReply::Enciphered(kResMalformed);
  if (ctx.request.Has("flag") && !ValueInt(ctx.request, "flag", flag))
    return CommandReply::Enciphered(kResBadValue);
  if (ctx.request.Has("priority") && !ValueInt(ctx.request, "priority", priority))
    return CommandReply::Enciphered(kResBadValue);
  if (!EqualNoCase(from, Address(*me))) return CommandReply::Enciphered(kResNotYourAccount);
  // The id names files on every recipient's disk.
  if (!IsHex(id, 32) || size < 0 || csize < size || flag < 0 || flag > 0xFFFF || priority < 0 ||
      priority > 2)
    return CommandReply::Enciphered(kResBadValue);

  // The signature container must be this mail's and the sender's.
  std::string container_text;
  SignContainer sc;
  if (!Base64Decode(sign, container_text) || !ParseSignContainer(container_text, sc) ||
      sc.mail_uid != id || sc.certificate != me->certificate)
    return CommandReply::Enciphered(kResBadValue);

  const bool secure = mode == 0;
  // The copies' .eme: the secure upload as sent, or the plain container.
  PartFile body(ctx.mail);
  if (!body.ok()) return NotKept(Address(*me), id, "body file", errno);
  pugi::xml_document rdoc;
  pugi::xml_node recipients;
  if (secure) {
    if (!ctx.content) return CommandReply::Enciphered(kResMalformed);
    if (csize != static_cast<int64_t>(PaddedSize(static_cast<uint64_t>(size))) ||
        static_cast<int64_t>(ctx.content->size()) != csize)
      return CommandReply::Enciphered(kResMalformed);
    recipients = ctx.request.root.child("emails");
    size_t domains = 0, logins = 0;
    ForChildren(recipients, "domain", [&](pugi::xml_node d) {
      ++domains;
      ForChildren(d, "login", [&](pugi::xml_node) { ++logins; });
    });
    if (domains != 1 || logins != 1) return CommandReply::Enciphered(kResMalformed);
    if (!body.Take(*ctx.content)) return NotKept(Address(*me), id, "body file", errno);
  } else {
    std::string rest;
    const ContentStatus cs = OpenPackage(ctx, csize, size, body.fd(), rest);
    if (cs == ContentStatus::NotStored) return NotKept(Address(*me), id, "body file", errno);
    if (cs != ContentStatus::Ok) return CommandReply::Enciphered(ContentError(cs));
    if (!body.Close()) return NotKept(Address(*me), id, "body file", errno);
    if (!ParseEmails(rest, rdoc, recipients)) return CommandReply::Enciphered(kResMalformed);
  }

  MailCopy copy;
  copy.uuid = Upper(id);
  copy.sender_account = me->id;
  copy.sender = Address(*me);
  copy.mode = secure ? 0 : 1;
  copy.size = size;
  copy.flag = flag;
  copy.priority = static_cast<int>(priority);
  copy.sent_time = NowTimeText();
  copy.ymbox = MonthText(copy.sent_time);

  CommandReply reply;
  reply.root = "response";
  ReplyElement& out = reply.Add("emails");
  ForChildren(recipients, "domain", [&](pugi::xml_node d) {
    const std::string domain = d.attribute("val").value();
    const bool served = IsServed(ctx.config, domain);
    ReplyElement& od = out.Child("domain").Attr("val", domain);
    bool any = false;
    ForChildren(d, "login", [&](pugi::xml_node l) {
      const std::string login = l.attribute("val").value();
      ReplyElement& ol = od.Child("login").Attr("val", login);
      const std::optional<Account> to =
          served ? ctx.accounts.FindByLogin(login, domain) : std::nullopt;
      if (!to) {
        ol.Attr("ok", "0");
        return;
      }
      MailCopy c = copy;
      c.recipient_account = to->id;
      switch (ctx.mail.Deliver(c, body.path(), container_text)) {
        case DeliverStatus::Ok:
          any = true;
          ol.Attr("ok", "1")
              .Attr("suid", c.suid)
              .Attr("ymbox", c.ymbox)
              .Attr("sent_time", c.sent_time);
          break;
        case DeliverStatus::AlreadyHeld:
          any = true;
          ol.Attr("ok", "2");
          // The held copy's values, so that the sender's reports find it;
          // never those of a copy someone else sent.
          if (c.sender_account == me->id)
            ol.Attr("suid", c.suid).Attr("ymbox", c.ymbox).Attr("sent_time", c.sent_time);
          break;
        case DeliverStatus::NoSpace:  // answered as a whole by RunCommand
        case DeliverStatus::Failed:
          ol.Attr("ok", "0");
          break;
      }
    });
    od.Attr("ok", any ? "1" : "0");
  });
  return reply;
}

CommandReply NewMailsCommand(CommandContext& ctx) {
  const std::optional<Account> me = SessionAccount(ctx);
  if (!me) return CommandReply::Enciphered(kResNotLoggedIn);
  const char* user = ctx.request.Value("user");
  if (!user) return CommandReply::Enciphered(kResMalformed);
  if (!EqualNoCase(user, Address(*me))) return CommandReply::Enciphered(kResNotYourAccount);

  CommandReply reply;
  ReplyElement& list = reply.Add("new_mails_list");
  for (const MailCopy& c : ctx.mail.NewMails(me->id)) {
    list.Child("mail")
        .Attr("size", std::to_string(c.size))
        .Attr("mode", std::to_string(c.mode))
        .Attr("suid", c.suid)
        .Attr("ymbox", c.ymbox)
        .Attr("uuid", c.uuid)
        .Attr("from", c.sender);
  }
  ReplyElement& reports = reply.Add("mails_report");
  // Each value is the ymbox digits followed by the 32-character suid;
  // values of any other shape are passed over.
  ForChildren(ctx.request.root.child("emails"), "domain", [&](pugi::xml_node d) {
    ForChildren(d, "suid", [&](pugi::xml_node s) {
      const std::string v = s.attribute("val").value();
      if (v.size() <= 32) return;
      const std::string ymbox = v.substr(0, v.size() - 32), suid = v.substr(v.size() - 32);
      if (!IsDigits(ymbox) || !IsHex(suid, 32)) return;
      const std::optional<MailCopy> c = ctx.mail.FindSent(me->id, Upper(suid), ymbox);
      if (!c) return;
      reports.Child("report")
          .Attr("suid", c->suid)
          .Attr("received_time", c->received_time)
          .Attr("read_time", c->read_time);
    });
  });
  return reply;
}

CommandReply DownloadMailCommand(CommandContext& ctx) {
  const std::optional<Account> me = SessionAccount(ctx);
  if (!me) return CommandReply::Enciphered(kResNotLoggedIn);
  const char* uuid = ctx.request.Value("uuid");
  const char* suid = ctx.request.Value("suid");
  const char* ymbox = ctx.request.Value("ymbox");
  if (!uuid || !suid || !ymbox) return CommandReply::Enciphered(kResMalformed);
  std::optional<MailCopy> c = ctx.mail.FindReceived(me->id, Upper(suid), ymbox);
  if (!c || !EqualNoCase(c->uuid, uuid)) return CommandReply::Enciphered(kResMailNotFound);
  // The body is streamed from its file as the reply is written; a fast copy
  // is kept plain and enciphered for the downloading session, from the hash
  // of the uuid text.
  ReplyFile body;
  body.name = c->uuid + ".eme";
  std::string signature;
  if (!ctx.mail.BodyFile(*c, body.path, body.path_size) ||
      !ReadWholeFile(body.path.substr(0, body.path.size() - 4) + ".ems", signature))
    return CommandReply::Enciphered(kResMailNotFound);
  if (c->mode != 0) {
    if (!crypto::KeyUsable(ctx.session.key.data()))
      return CommandReply::Enciphered(kResKeyAgreementFailed);
    body.seal = true;
    body.seal_iv = crypto::Hash(c->uuid);
  }
  CommandReply reply;
  reply.Add("rep")
      .Attr("size", std::to_string(c->size))
      .Attr("flag", std::to_string(c->flag))
      .Attr("sent_time", c->sent_time)
      .Attr("priority", std::to_string(c->priority));
  // The signature container goes first: a client that has the sender's
  // certificate before the mail can decipher the mail as it arrives.
  if (!reply.AttachFile(c->uuid + ".ems", 1, true, std::move(signature)) ||
      !reply.Attach(std::move(body)))
    return CommandReply::Enciphered(kResMailNotFound);
  return reply;
}

CommandReply MailFlagsCommand(CommandContext& ctx) {
  const std::optional<Account> me = SessionAccount(ctx);
  if (!me) return CommandReply::Enciphered(kResNotLoggedIn);
  const char* to = ctx.request.Value("to");
  const char* uuid = ctx.request.Value("uuid");
  const char* ymbox = ctx.request.Value("ymbox");
  int64_t flag = 0;
  if (!to || !uuid || !ymbox || !ValueInt(ctx.request, "flag", flag))
    return CommandReply::Enciphered(kResMalformed);
  if (!EqualNoCase(to, Address(*me))) return CommandReply::Enciphered(kResNotYourAccount);
  std::optional<MailCopy> c = ctx.mail.FindByUuid(me->id, uuid, ymbox);
  if (!c) return CommandReply::Enciphered(kResMailNotFound);
  if (!ctx.mail.Report(*c, (flag & 0x40) != 0, (flag & 0x80) != 0, NowTimeText()))
    return CommandReply::Enciphered(kResMalformed);

  int64_t receiver_flag = c->flag | 0x10;
  if (c->read_time != kZeroTime) receiver_flag |= 0x20;
  if (c->sender_account != me->id) receiver_flag &= ~int64_t{0x08};
  CommandReply reply;
  reply.Add("msg").Attr("received_time", c->received_time).Attr("read_time", c->read_time);
  reply.Add("rep")
      .Attr("suid", c->suid)
      .Attr("received_time", c->received_time)
      .Attr("read_time", c->read_time)
      .Attr("flag", std::to_string(receiver_flag));
  return reply;
}

}  // namespace exchange

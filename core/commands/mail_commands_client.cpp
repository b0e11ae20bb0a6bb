#include "commands/mail_commands_client.h"

#include <charconv>

#include "base/messages.h"
#include "base/stream.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "net/server_request.h"
#include "net/xml_maker.h"
#include "settings/settings.h"

namespace qovra {

namespace {

bool AllDigits(std::string_view s) {
  return s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The attribute as a 64-bit number; def when missing or not a number.
int64_t AttrInt(const pugi::xml_node& node, const char* name, int64_t def) {
  const std::string_view s = node.attribute(name).value();
  int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return def;
  return value;
}

// Sends a finished request as part 0 in session mode.
int SendRequest(TMemoryStream& xml, const TCommandOwner& owner, std::string_view title,
                bool keep_open, bool show_bar, pugi::xml_document& reply,
                IReplyFileTaker* taker = nullptr) {
  xml.SetPosition(0);
  TRequestPart part;
  part.SetName("header");
  part.Data = &xml;
  return ServerRequest(true, &part, 1, false, owner.ProgressBar, ProgressCallback, title, keep_open,
                       show_bar, owner.Form, owner.FormClass, Options.Conn.ServerUrl, reply, taker);
}

}  // namespace

bool IsHexId(std::string_view text) {
  return text.size() == 32 &&
         text.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

bool IsServerCopyId(std::string_view text) {
  if (text.empty() || text.size() > 32) return false;
  for (const char c : text) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) return false;
  }
  return true;
}

bool IsYmboxText(std::string_view text) {
  return !text.empty() && text.size() <= 9 && AllDigits(text);
}

bool IsTimeText(std::string_view text) {
  if (text.size() != 19) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = i == 4 || i == 7     ? c == '-'
                    : i == 10            ? c == ' '
                    : i == 13 || i == 16 ? c == ':'
                                         : c >= '0' && c <= '9';
    if (!ok) return false;
  }
  return true;
}

bool DownloadMail(const TCommandOwner& owner, std::string_view from_address, std::string_view uuid,
                  TMailMessage& mail, std::string_view title, std::string_view ymbox,
                  std::string_view suid, IReplyFileTaker* taker) {
  // These values name files and rows: refused before anything is sent.
  if (!IsHexId(uuid) || !IsHexId(suid) || !IsYmboxText(ymbox)) {
    ShowWarning(owner.Form, "msgMailNotFound");
    return false;
  }
  TMemoryStream out;
  TXMLMaker xml(out, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 166, true);
  xml.AddString("uuid", uuid, false, true);
  xml.AddString("suid", suid, false, true);
  xml.AddString("ymbox", ymbox, false, true);
  xml.AddInteger("skip", 1, true);
  xml.CloseRoot();
  pugi::xml_document reply;
  if (SendRequest(out, owner, title, true, true, reply, taker) != 1) return false;

  pugi::xml_node rep;
  for (pugi::xml_node n : reply.document_element().children()) {
    if (SameTextAscii(n.name(), "rep")) {
      rep = n;
      break;
    }
  }
  if (!rep) {
    ShowWarning(owner.Form, "msgMailNotFound");
    return false;
  }
  const std::string& own = Session.OwnContact.Email;
  TMailMessage m;
  m.Uuid = uuid;
  m.Suid = suid;
  m.FromAddress = from_address;
  m.Ymbox = VarToIntDef(ymbox, 0);
  const int64_t size = AttrInt(rep, "size", 0);
  m.MailSize = size > 0 ? size : 0;
  uint16_t flags = static_cast<uint16_t>(AttrInt(rep, "flag", 0) & 0xFFFF);
  flags |= mfReceived;
  if (!SameTextAscii(from_address, own)) flags &= static_cast<uint16_t>(~mfSent);
  m.Flags = flags;
  m.Recipients.Add(own);
  m.FolderId = kFolderInbox;
  const pugi::xml_attribute sent = rep.attribute("sent_time");
  m.SentTime = StampToDateTime(sent ? std::string_view(sent.value()) : kZeroTimeText);
  m.ReceivedTime = 0;
  m.ReadTime = 0;
  const int64_t priority = AttrInt(rep, "priority", kPriorityNormal);
  m.Priority = priority >= 0 && priority <= 255 ? static_cast<uint8_t>(priority) : kPriorityNormal;
  mail = std::move(m);
  return true;
}

bool UpdateMailFlag(const TCommandOwner& owner, std::string_view uuid, int32_t ymbox,
                    pugi::xml_document& reply, bool visible, uint16_t flags) {
  if (!IsHexId(uuid) || ymbox < 0) {
    ShowWarning(owner.Form, "msgMailNotFound");
    return false;
  }
  TMemoryStream out;
  TXMLMaker xml(out, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 170, true);
  xml.AddString("to", Session.OwnContact.Email, false, true);
  xml.AddString("uuid", uuid, false, true);
  xml.AddString("ymbox", std::to_string(ymbox), false, true);
  xml.AddInteger("flag", flags, true);
  xml.CloseRoot();
  return SendRequest(out, owner, GetMsg("msgUpdatingMail"), visible, visible, reply) == 1;
}

}  // namespace qovra

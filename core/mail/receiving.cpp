#include "mail/receiving.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/stream.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "commands/mail_commands_client.h"
#include "keys/crypto_binding.h"
#include "mail/receiving_download.h"
#include "mail/receiving_keep.h"
#include "mail/receiving_reports.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/xml_maker.h"
#include "settings/settings.h"
#include "store/mail_db.h"

namespace qovra {

namespace {

// One entry of the new-mails list as the server gave it.
struct TListEntry {
  std::string Uuid, Suid, Ymbox, From;
  int64_t Size = 0;
  uint8_t Mode = kSendModeSecure;
};

// The run's shared state.
class Receiver {
 public:
  explicit Receiver(const TReceiveRun& run) : run_(run) {}

  TReceiveSummary Run();

 private:
  TWindowHandle Form() const { return run_.Owner.Form; }
  void Status(const std::string& title, std::string_view status_key) {
    if (!run_.Silent) ShowProgress(Form(), true, title, GetMsg(status_key));
  }
  void Warn(std::string_view key) { ShowWarning(Form(), key); }
  void Probe(TReceiveStep step, const std::string& uuid) const {
    if (run_.Probe) run_.Probe(step, uuid);
  }

  bool RequestList(pugi::xml_document& reply);
  // One listed mail: download, check, keep, then acknowledge.
  void ReceiveOne(size_t index, const TListEntry& entry);
  // The flag report (170) of a kept or refused mail, then the times it
  // gives written to the mail's own recipient row.
  void Acknowledge(const std::string& uuid, int32_t ymbox, uint16_t value);
  void Notify();

  const TReceiveRun& run_;
  TReceiveSummary summary_;
  int64_t total_ = 0;  // padded size of every listed mail
};

int64_t AttrInt64(const pugi::xml_node& node, const char* name, int64_t def) {
  const std::string_view s = node.attribute(name).value();
  if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string_view::npos)
    return def;
  return std::stoll(std::string(s));
}

// The entries of new_mails_list as given; DownloadMail refuses the values
// that cannot name a file or a row.
std::vector<TListEntry> ReadList(const pugi::xml_node& list) {
  std::vector<TListEntry> entries;
  for (pugi::xml_node m : list.children()) {
    if (m.type() != pugi::node_element) continue;
    TListEntry e;
    e.Uuid = m.attribute("uuid").value();
    e.Suid = m.attribute("suid").value();
    e.Ymbox = m.attribute("ymbox").value();
    e.From = m.attribute("from").value();
    e.Size = AttrInt64(m, "size", 0);
    e.Mode = AttrInt64(m, "mode", 0) != 0 ? kSendModeFast : kSendModeSecure;
    entries.push_back(std::move(e));
  }
  return entries;
}

// True when the entry names a mail the user already keeps checked: a row
// with the received bit and its file (<uuid>.emz, or for administrative use
// only <uuid>.eme beside the sealed key). A run that stopped before the row
// was committed left no such row: the mail is fetched and checked again,
// and takes over the file that run placed.
bool AlreadyKept(const TListEntry& e) {
  if (!IsHexId(e.Uuid) || !IsYmboxText(e.Ymbox)) return false;  // DownloadMail refuses it
  if (!MailDb.IsOpen()) return false;
  SqliteStatement q = MailDb.Prepare(
      "SELECT flag, COALESCE(fau_data,'') FROM ecm_mails WHERE uuid=? AND (flag & ?)<>0 LIMIT 1");
  q.Bind(1, e.Uuid).Bind(2, int64_t{mfReceived});
  if (q.Step() != SqliteStatement::StepResult::Row) return false;
  if (::access((MessagesDir + e.Uuid + ".emz").c_str(), F_OK) == 0) return true;
  return (q.ColumnInt(0) & mfAdminOnly) != 0 && !q.ColumnText(1).empty() &&
         ::access((MessagesDir + e.Uuid + ".eme").c_str(), F_OK) == 0;
}

// Writes the delivery and read times of a flag report's `msg` (times that
// are not time texts count as none) to the own recipient row of uuid.
void WriteReportedTimes(const std::string& uuid, const pugi::xml_node& msg) {
  if (!msg || !MailDb.IsOpen()) return;
  const auto time_of = [&msg](const char* name) {
    const std::string_view t = msg.attribute(name).value();
    return DateTimeToStamp(true, IsTimeText(t) ? StampToDateTime(t) : 0);
  };
  SqliteStatement u = MailDb.Prepare(
      "UPDATE ecm_recipients SET received_time=?,read_time=? WHERE to_address=? COLLATE NOCASE "
      "AND mail_id IN (SELECT id FROM ecm_mails WHERE uuid=?)");
  u.Bind(1, time_of("received_time"))
      .Bind(2, time_of("read_time"))
      .Bind(3, Session.OwnContact.Email)
      .Bind(4, uuid);
  if (!u.Run())
    std::fprintf(stderr, "qovra: times of mail %s not stored: %s\n", uuid.c_str(),
                 MailDb.LastError().c_str());
}

// A mail that was fetched but not kept leaves no file without a row: its
// signature container and enciphered copy go unless a row of its uuid
// (such as the sender's own copy of a mail to oneself) holds them.
void DropUnkeptFiles(const std::string& uuid) {
  if (!IsHexId(uuid) || !MailDb.IsOpen()) return;
  SqliteStatement q = MailDb.Prepare("SELECT 1 FROM ecm_mails WHERE uuid=? LIMIT 1");
  q.Bind(1, uuid);
  if (q.Step() != SqliteStatement::StepResult::Done) return;
  for (const char* ext : {".ems", ".eme"}) ::unlink((MessagesDir + uuid + ext).c_str());
}

// The flag report of a mail: 0x40, plus 0x80 when it asked no read report.
uint16_t FlagReportValue(uint16_t flags) {
  return (flags & mfReadReport) ? mfDeliveryReport : mfDeliveryReport | mfReadReport;
}

// The flag word of uuid's row; 0 when there is none.
uint16_t StoredFlags(const std::string& uuid) {
  if (!MailDb.IsOpen()) return 0;
  SqliteStatement q = MailDb.Prepare("SELECT flag FROM ecm_mails WHERE uuid=? LIMIT 1");
  q.Bind(1, uuid);
  if (q.Step() != SqliteStatement::StepResult::Row) return 0;
  return static_cast<uint16_t>(q.ColumnInt(0) & 0xFFFF);
}

bool Receiver::RequestList(pugi::xml_document& reply) {
  // A database that cannot list the awaited reports would not keep the
  // mails either: nothing is fetched (and acknowledged) until it reads.
  std::string reports;
  if (!BuildPendingReportList(MailDb, reports)) {
    std::fprintf(stderr, "qovra: awaited reports not listed: %s\n", MailDb.LastError().c_str());
    Warn("msgDatabaseError");
    return false;
  }
  TMemoryStream out;
  TXMLMaker xml(out, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 165, true);
  xml.AddString("user", Session.OwnContact.Email, false, true);
  xml.OpenTag("emails");
  // Built by us from bound database values, escaped by the list builder.
  xml.WriteRaw(reports);
  xml.CloseTag("emails");
  xml.CloseRoot();
  out.SetPosition(0);
  TRequestPart part;
  part.SetName("header");
  part.Data = &out;
  return ServerRequest(true, &part, 1, false, run_.Owner.ProgressBar, ProgressCallback,
                       GetMsg("msgGettingMails"), true, true, Form(), run_.Owner.FormClass,
                       Options.Conn.ServerUrl, reply) == 1;
}

void Receiver::Acknowledge(const std::string& uuid, int32_t ymbox, uint16_t value) {
  const TCommandOwner status{Form(), run_.Owner.FormClass, run_.StatusBar};
  pugi::xml_document reply;
  if (!UpdateMailFlag(status, uuid, ymbox, reply, !run_.FirstActivationDone, value)) return;
  Probe(TReceiveStep::Acknowledged, uuid);
  WriteReportedTimes(uuid, reply.document_element().child("msg"));
}

void Receiver::ReceiveOne(size_t index, const TListEntry& e) {
  const int64_t k = static_cast<int64_t>(index + 1);
  const int64_t n = summary_.NewMails;
  const int64_t padded = e.Size > 0 ? PaddedBlockLength(e.Size) : 0;
  const std::string title = FormatMsg(GetMsg("msgDownloadingMail"),
                                      {k, FormatByteSizeKB(padded), n, FormatByteSizeKB(total_)});
  if (AlreadyKept(e)) {
    // Kept by a run that stopped before telling the server: a second
    // download would replace the files kept for it; only the report is due.
    Status(title, "msgGettingReport");
    Acknowledge(e.Uuid, std::stoi(e.Ymbox), FlagReportValue(StoredFlags(e.Uuid)));
    return;
  }
  TMailMessage mail;
  TMailFileTaker taker(e.Uuid, e.Mode);
  if (!DownloadMail(run_.Owner, e.From, e.Uuid, mail, title, e.Ymbox, e.Suid, &taker)) {
    DropUnkeptFiles(e.Uuid);
    return;
  }
  ++summary_.Downloaded;
  mail.SendMode = e.Mode;
  Probe(TReceiveStep::Downloaded, e.Uuid);

  TKeepRun keep;
  keep.Owner = run_.Owner;
  keep.Silent = run_.Silent;
  keep.Title = FormatMsg(GetMsg("msgProcessingMail"), {k, n});
  keep.FileKept = [this, &e] { Probe(TReceiveStep::FileKept, e.Uuid); };
  Status(keep.Title, "msgGettingReport");
  switch (CheckAndKeepMail(keep, mail, taker.Release())) {
    case TKeepResult::Kept:
      ++summary_.Stored;
      Probe(TReceiveStep::Kept, e.Uuid);
      break;
    case TKeepResult::Failed:
      // A mail that can never be read is still delivered: its header row,
      // without a subject, records it before the server is told.
      Status(keep.Title, "msgSaving");
      mail.Subject = u"";
      if (SaveMailToDatabase(MailDb, mail, Session.OwnContact.Email, ProgressCallback,
                             run_.Owner.ProgressBar, false) == 0) {
        std::fprintf(stderr, "qovra: mail %s not stored: %s\n", mail.Uuid.str().c_str(),
                     MailDb.LastError().c_str());
        Warn("msgDatabaseError");
        DropUnkeptFiles(mail.Uuid.str());
        return;
      }
      Probe(TReceiveStep::Refused, e.Uuid);
      break;
    case TKeepResult::NotKept:
      DropUnkeptFiles(mail.Uuid.str());
      return;  // not reported: the server lists it again
  }
  Status(title, "msgGettingReport");
  Acknowledge(mail.Uuid.str(), mail.Ymbox, FlagReportValue(mail.Flags));
}

void Receiver::Notify() {
  IReceiveNotices& notices = ReceiveNotices();
  if (Options.Mail.playsnd && !notices.ApplicationActive())
    notices.PlaySoundFile(Options.Mail.sndpath);
  if (Options.Other.traymin && notices.MainWindowHidden() && summary_.NewMails > 0) {
    notices.ShowTrayNotice(
        AppTitle, FormatMsg(GetMsg("msgNewMailNotice"), {static_cast<int64_t>(summary_.NewMails)}),
        10000);
  }
  notices.RefreshFolders(kFolderInbox);
}

TReceiveSummary Receiver::Run() {
  pugi::xml_document reply;
  if (!RequestList(reply)) {
    if (!run_.Silent) HideProgress(Form(), false);
    return summary_;
  }
  summary_.Listed = true;
  const pugi::xml_node root = reply.document_element();
  const std::vector<TListEntry> list = ReadList(root.child("new_mails_list"));
  summary_.NewMails = static_cast<int>(list.size());
  for (const TListEntry& e : list)
    if (e.Size > 0) total_ += PaddedBlockLength(e.Size);
  for (size_t i = 0; i < list.size(); ++i) ReceiveOne(i, list[i]);
  if (summary_.Downloaded > 0) Notify();

  const std::string title = GetMsg("msgGettingMails");
  Status(title, "msgUpdatingMail");
  summary_.Reports = ApplyMailReports(MailDb, root.child("mails_report"), run_.Owner.ProgressBar);
  if (!run_.Silent) HideProgress(Form(), false);
  return summary_;
}

}  // namespace

TReceiveSummary ReceiveMails(const TReceiveRun& run) {
  Receiver receiver(run);
  return receiver.Run();
}

}  // namespace qovra

#include "mail/receiving.h"

#include <unistd.h>
#include <zarvo.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/secure_wipe.h"
#include "base/stream.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "commands/mail_commands_client.h"
#include "keys/crypto_binding.h"
#include "mail/receiving_download.h"
#include "mail/receiving_reports.h"
#include "mail/signature_check.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/xml_maker.h"
#include "platform/temp_files.h"
#include "settings/settings.h"
#include "store/mail_container_reader.h"
#include "store/mail_db.h"
#include "store/mail_db_key.h"
#include "tevqa.h"

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

  bool RequestList(pugi::xml_document& reply);
  void DownloadAll(const std::vector<TListEntry>& list);
  void ProcessAll();
  bool ProcessMail(TMailMessage& mail, std::unique_ptr<TPlainMail> plain);
  // A checked mail the database did not take: logged, shown, false.
  bool NotStored(const TMailMessage& mail);
  void Notify();

  const TReceiveRun& run_;
  TReceiveSummary summary_;
  std::vector<TMailMessage> mails_;
  // Per mail: its plain container when it was deciphered during download.
  std::vector<std::unique_ptr<TPlainMail>> plain_;
  std::string title_;
};

std::string MailFile(const TMailMessage& mail, std::string_view ext) {
  return MessagesDir + mail.Uuid.str() + std::string(ext);
}

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

// True when the stored row of uuid holds a sealed key, which only a mail
// that passed every check gets.
bool HasSealedKey(const std::string& uuid) {
  if (!MailDb.IsOpen()) return false;
  SqliteStatement q = MailDb.Prepare(
      "SELECT 1 FROM ecm_mails WHERE uuid=? AND fau_data IS NOT NULL AND fau_data<>'' LIMIT 1");
  q.Bind(1, uuid);
  return q.Step() == SqliteStatement::StepResult::Row;
}

// True when the entry names a mail the user already holds checked: its
// <uuid>.emz in MessagesDir, or (for administrative use only) its <uuid>.eme
// beside a sealed key. An .eme without that key was never checked (a run
// that stopped after the download): the mail is fetched and checked again.
bool AlreadyHeld(const TListEntry& e) {
  if (!IsHexId(e.Uuid) || !IsYmboxText(e.Ymbox)) return false;  // DownloadMail refuses it
  if (::access((MessagesDir + e.Uuid + ".emz").c_str(), F_OK) == 0) return true;
  return ::access((MessagesDir + e.Uuid + ".eme").c_str(), F_OK) == 0 && HasSealedKey(e.Uuid);
}

// The flag report for a held mail, as for a stored one: 0x40, plus 0x80
// when its stored row did not ask for a read report. Without a row only
// the delivery is reported.
uint16_t HeldMailFlagValue(const std::string& uuid) {
  uint16_t value = mfDeliveryReport;
  if (!MailDb.IsOpen()) return value;
  SqliteStatement q = MailDb.Prepare("SELECT flag FROM ecm_mails WHERE uuid=? LIMIT 1");
  q.Bind(1, uuid);
  if (q.Step() == SqliteStatement::StepResult::Row && (q.ColumnInt(0) & mfReadReport) == 0)
    value |= mfReadReport;
  return value;
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

void Receiver::DownloadAll(const std::vector<TListEntry>& list) {
  const int64_t n = static_cast<int64_t>(list.size());
  int64_t total = 0;
  for (const TListEntry& e : list)
    if (e.Size > 0) total += PaddedBlockLength(e.Size);
  mails_.assign(list.size(), TMailMessage{});
  plain_.clear();
  plain_.resize(list.size());
  const TCommandOwner status{Form(), run_.Owner.FormClass, run_.StatusBar};
  for (size_t i = 0; i < list.size(); ++i) {
    const TListEntry& e = list[i];
    const int64_t padded = e.Size > 0 ? PaddedBlockLength(e.Size) : 0;
    const std::string title = FormatMsg(
        GetMsg("msgDownloadingMail"),
        {static_cast<int64_t>(i + 1), FormatByteSizeKB(padded), n, FormatByteSizeKB(total)});
    TMailMessage& mail = mails_[i];
    if (AlreadyHeld(e)) {
      // A second download would replace the files kept for this mail
      // (the .eme of a mail for administrative use, the .ems): the copy is
      // only reported as received.
      Status(title, "msgGettingReport");
      pugi::xml_document flag_reply;
      (void)UpdateMailFlag(status, e.Uuid, std::stoi(e.Ymbox), flag_reply,
                           !run_.FirstActivationDone, HeldMailFlagValue(e.Uuid));
      continue;
    }
    TMailFileTaker taker(e.Uuid, e.Mode);
    if (!DownloadMail(run_.Owner, e.From, e.Uuid, mail, title, e.Ymbox, e.Suid, &taker)) {
      mail = TMailMessage{};
      continue;
    }
    plain_[i] = taker.Release();
    ++summary_.Downloaded;
    mail.SendMode = e.Mode;

    uint16_t value = mfDeliveryReport;
    if ((mail.Flags & mfReadReport) == 0) value |= mfReadReport;
    Status(title, "msgGettingReport");
    pugi::xml_document flag_reply;
    if (UpdateMailFlag(status, mail.Uuid.view(), mail.Ymbox, flag_reply, !run_.FirstActivationDone,
                       value)) {
      const pugi::xml_node msg = flag_reply.document_element().child("msg");
      if (msg) {
        const std::string_view received = msg.attribute("received_time").value();
        const std::string_view read = msg.attribute("read_time").value();
        mail.ReceivedTime = IsTimeText(received) ? StampToDateTime(received) : 0;
        mail.ReadTime = IsTimeText(read) ? StampToDateTime(read) : 0;
      }
    }
    Status(title, "msgSaving");
    mail.Id = SaveMailToDatabase(MailDb, mail, Session.OwnContact.Email, ProgressCallback,
                                 run_.Owner.ProgressBar, false);
  }
}

// The decryption target of one mail: a temporary file beside the final
// one, or memory for a mail for administrative use only.
class DecryptTarget {
 public:
  explicit DecryptTarget(bool in_memory) : in_memory_(in_memory) {}
  ~DecryptTarget() {
    file_.reset();
    if (!temp_.empty()) ::unlink(temp_.c_str());
    memory_.Clear();
  }
  DecryptTarget(const DecryptTarget&) = delete;
  DecryptTarget& operator=(const DecryptTarget&) = delete;

  // Makes the target; false when the temporary file cannot be made.
  bool Open(const TMailMessage& mail) {
    if (in_memory_) return true;
    const int fd = CreateUniqueFile(MessagesDir, mail.Uuid.str() + ".", ".part", temp_);
    if (fd < 0) return false;
    ::close(fd);
    file_ = std::make_unique<TEFileStream>(temp_, false, false, fmOpenReadWrite);
    return file_->Opened();
  }
  // Takes over the temporary file of plain (a file target only).
  bool Adopt(TPlainMail& plain) {
    if (in_memory_) return false;
    temp_ = std::move(plain.Path);
    plain.Path.clear();
    file_ = std::make_unique<TEFileStream>(temp_, false, false, fmOpenReadWrite);
    return file_->Opened();
  }
  TStream& Stream() { return in_memory_ ? static_cast<TStream&>(memory_) : *file_; }
  // Gives the temporary file its final name unless a file of that name
  // exists. True when the final file holds this mail.
  bool Keep(const std::string& final_name) {
    if (in_memory_) return true;
    file_.reset();
    if (::link(temp_.c_str(), final_name.c_str()) == 0) return true;
    // The mail was stored by an earlier run: that file stays.
    return errno == EEXIST;
  }

 private:
  bool in_memory_;
  TMemoryStream memory_;
  std::unique_ptr<TEFileStream> file_;
  std::string temp_;
};

bool Receiver::ProcessMail(TMailMessage& mail, std::unique_ptr<TPlainMail> plain) {
  const bool admin = (mail.Flags & mfAdminOnly) != 0;
  std::array<uint8_t, kKeyRecordSize> sender{};
  const std::string eme_name = MailFile(mail, ".eme");
  // Without a usable sender the mail can never be read: an ordinary
  // mail's enciphered file goes too.
  const auto drop = [&] {
    if (!admin) ::unlink(eme_name.c_str());
    return false;
  };
  const TMailSignature signature = ReadMailSignature(MailFile(mail, ".ems"), /*silent=*/false);
  if (!signature.HasSignature && !signature.Corrupt) return drop();  // reported by the stream
  {
    const std::string& cert = signature.Certificate;
    if (!signature.HasSignature || cert.empty() || cert.size() > INT32_MAX ||
        initBPb(cert.data(), static_cast<int32_t>(cert.size()), sender.data()) == 0) {
      Warn("msgInvalidSenderCertificate");
      return drop();
    }
  }

  std::array<uint8_t, kCipherKeySize> key{};
  struct Wipe {
    std::array<uint8_t, kCipherKeySize>& k;
    ~Wipe() { SecureWipe(k.data(), k.size()); }
  } wipe{key};
  if (mail.SendMode != kSendModeSecure) {
    key = Session.SessionKey;
  } else if (UZDST_CIPHER_KEY_generate(Session.OwnPrivateKey.data(), Session.OwnDhKey.data(),
                                       sender.data(), key.data()) != 1) {
    Warn("msgIncompatibleSenderDiffieHellmanKey");
    return false;
  }

  if (!plain && ::access(eme_name.c_str(), F_OK) != 0) {
    Warn("msgMailNotFound");
    return false;
  }
  bool ok = false;
  {
    // Deciphered during the download already, or from the stored .eme.
    std::unique_ptr<TEFileStream> eme;
    if (!plain) {
      eme = std::make_unique<TEFileStream>(eme_name, false, false, fmOpenRead);
      if (!eme->Opened()) return false;
    }
    DecryptTarget target(admin);
    ok = [&] {
      if (plain ? !target.Adopt(*plain) : !target.Open(mail)) {
        Warn("msgCannotDecryptMail");
        return false;
      }
      const THashValue iv = HashString(mail.Uuid.view());
      const uint8_t last = static_cast<uint8_t>(mail.MailSize % 32);
      THashValue hash{};
      Status(title_, "msgVerifying");
      if (plain) {
        hash = plain->Hash;
      } else if (!CryptStreamWithHash(*eme, eme->Size(), target.Stream(), run_.Owner.ProgressBar,
                                      ProgressCallback, &hash, key, iv,
                                      csHashOutput | CryptLastLengthFlags(last))) {
        Warn("msgCannotDecryptMail");
        return false;
      }
      // The length first: a longer file must not pass as a bad signature.
      if (target.Stream().Size() != mail.MailSize) {
        Warn("msgMessageSizeIncorrect");
        return false;
      }
      const auto known_hash = [&hash](THashValue* out) {
        *out = hash;
        return true;
      };
      if (CheckMailSignature(signature, {.Flags = 0, .CheckValidity = false}, known_hash).Status !=
          kSignValid) {
        Warn("msgUnauthenticSignature");
        return false;
      }
      Status(title_, "msgParsingMail");
      TMailReader reader(target.Stream());
      reader.SetReadInPlace(true);  // the target outlives the reader
      if (!reader.Parse(ProgressCallback, run_.Owner.ProgressBar)) {
        Warn("msgMailFileCorrupted");
        return false;
      }
      if (!target.Keep(MailFile(mail, ".emz"))) {
        Warn("msgMailFileCorrupted");
        return false;
      }
      // The key first: without it the kept copy cannot be opened, and the
      // mail stays a header without its subject, fetched again when listed.
      const std::span<const uint8_t, 256> priv(Session.OwnPrivateKey);
      if (admin && !StoreMailKey(MailDb, mail, key, priv)) return NotStored(mail);
      mail.Subject = reader.Subject();
      mail.Id = SaveMailToDatabase(MailDb, mail, Session.OwnContact.Email, ProgressCallback,
                                   run_.Owner.ProgressBar, false);
      if (mail.Id == 0) return NotStored(mail);
      return true;
    }();
  }
  if (!admin) ::unlink(eme_name.c_str());
  return ok;
}

bool Receiver::NotStored(const TMailMessage& mail) {
  std::fprintf(stderr, "qovra: mail %s not stored: %s\n", mail.Uuid.str().c_str(),
               MailDb.LastError().c_str());
  Warn("msgDatabaseError");
  return false;
}

void Receiver::ProcessAll() {
  const int64_t n = static_cast<int64_t>(mails_.size());
  for (size_t i = 0; i < mails_.size(); ++i) {
    TMailMessage& mail = mails_[i];
    if (mail.Uuid.empty()) continue;  // its download failed
    title_ = FormatMsg(GetMsg("msgProcessingMail"), {static_cast<int64_t>(i + 1), n});
    Status(title_, "msgGettingReport");
    if (ProcessMail(mail, std::move(plain_[i]))) ++summary_.Stored;
  }
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
  DownloadAll(list);
  ProcessAll();
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

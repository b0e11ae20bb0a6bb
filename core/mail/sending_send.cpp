// Command 164: signing, enciphering and sending one mail.
#include <tevqa.h>

#include <charconv>
#include <cstdio>
#include <sstream>

#include "base/base64.h"
#include "base/file_stream.h"
#include "base/messages.h"
#include "base/secure_wipe.h"
#include "base/time_stamp.h"
#include "keys/crypto_pipeline.h"
#include "keys/crypto_pipeline_copies.h"
#include "keys/random_text.h"
#include "mail/sending.h"
#include "mail/sending_values.h"
#include "net/server_request.h"
#include "net/xml_maker.h"
#include "settings/settings.h"
#include "store/mail_db_key.h"
#include "store/sign_container.h"

namespace qovra {

namespace {

std::string NodeXml(const pugi::xml_node& node) {
  std::ostringstream out;
  node.print(out, "", pugi::format_raw);
  return out.str();
}

std::string Progress(TWindowHandle form, std::string_view text_key, std::string_view suffix = {}) {
  std::string text = GetMsg(text_key);
  if (!suffix.empty()) text += ": " + std::string(suffix);
  ShowProgress(form, true, GetMsg("msgSendingMailMessage"), text);
  return text;
}

// The request XML up to (not including) the recipients and the closing root.
void WriteSendHeader(TXMLMaker& xml, const TMailMessage& mail, int mode, int64_t size,
                     int64_t csize, bool csize64, const std::string& sign_text) {
  xml.OpenRoot();
  xml.AddInteger("cmd", 164, true);
  xml.AddString("from", mail.FromAddress.view(), false, true);
  xml.AddString("id", mail.Uuid.view(), false, true);
  xml.AddInteger("mode", mode, true);
  xml.AddInt64("size", true, size);
  if (csize64)
    xml.AddInt64("csize", true, csize);
  else
    xml.AddInteger("csize", static_cast<int32_t>(csize), true);
  xml.AddString("sign", sign_text, true, true);
  xml.AddInteger("flag", mail.Flags, true);
  xml.AddInteger("priority", mail.Priority, true);
  xml.AddInteger("nodec", 1, true);
}

int SendParts(const TCommandOwner& owner, TStream& header, TStream& content, bool content_as_is,
              pugi::xml_document& reply) {
  TRequestPart parts[2];
  parts[0].SetName("header");
  parts[0].Data = &header;
  parts[1].SetName("content");
  parts[1].Data = &content;
  parts[1].SendAsIs = content_as_is;
  return ServerRequest(true, parts, 2, false, owner.ProgressBar, ProgressCallback,
                       GetMsg("msgSendingMailMessage"), true, true, owner.Form, owner.FormClass,
                       Options.Conn.ServerUrl, reply);
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  const std::string tmp = path + "." + RandomString(8, kRandomUpperNum) + ".tmp";
  bool ok = false;
  {
    TEFileStream f(tmp, true, false, fmCreate);
    ok = f.Opened() && f.Write(bytes.data(), bytes.size()) == bytes.size();
  }
  if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

// What every copy of one send shares.
struct TSendJob {
  const TCommandOwner& owner;
  const TSendPlace& place;
  const TMailMessage& mail;
  const std::string& sign_text;
  int64_t size;
  TStream& mail_stream;
  TCipherIvView iv;
  bool seal_failure_shown = false;
};

// One login of a secure send, in document order: what its turn does.
enum class TSecureTurnKind { AlreadySent, BadKey, KeyRefused, Copy };
struct TSecureTurn {
  TSecureTurnKind Kind = TSecureTurnKind::BadKey;
  size_t Copy = 0;  // index in the copy run
  std::array<uint8_t, kCipherKeySize> Key{};
};

// The turns of every login, with the copies queued in run; wiped when
// dropped.
struct TSecurePlan {
  std::vector<TSecureTurn> Turns;
  ~TSecurePlan() {
    for (TSecureTurn& t : Turns) SecureWipe(t.Key.data(), t.Key.size());
  }
};

// Seals key into the mail's row, which the sender needs to open the kept
// <uuid>.eme again (nothing to do while the database is closed). A failure
// is logged, shown once per send and gives false.
bool SealSentKey(TSendJob& job, std::span<const uint8_t, kCipherKeySize> key) {
  SqliteDb* db = job.place.Db;
  if (!db || !db->IsOpen() || StoreMailKey(*db, job.mail, key, Session.OwnPrivateKey)) return true;
  std::fprintf(stderr, "qovra: key of mail %s not stored: %s\n", job.mail.Uuid.str().c_str(),
               db->LastError().c_str());
  if (!job.seal_failure_shown) ShowWarning(job.owner.Form, "msgDatabaseError");
  job.seal_failure_shown = true;
  return false;
}

// The address of login in domain.
std::string LoginAddress(const pugi::xml_node& domain, const pugi::xml_node& login) {
  return std::string(login.attribute("val").value()) + "@" + domain.attribute("val").value();
}

// One recipient in secure mode: copy_path holds its enciphered copy under
// key. The login element of result gets its ok and values. True when the
// server took the copy (or already held it) and its key was sealed; the
// copy then stays as <uuid>.eme for a mail for administrative use only.
bool SendSecureCopy(TSendJob& job, const pugi::xml_node& domain, const pugi::xml_node& login,
                    const std::string& copy_path, std::span<const uint8_t, kCipherKeySize> key,
                    pugi::xml_node& out) {
  const TCommandOwner& owner = job.owner;
  const TMailMessage& mail = job.mail;
  const std::string eme =
      job.place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Enciphered);
  TEFileStream copy(copy_path, /*silent=*/true, /*delete_on_free=*/false, fmOpenRead);
  if (!copy.Opened()) return false;
  TMemoryStream header;
  TXMLMaker xml(header, "request");
  WriteSendHeader(xml, mail, kSendModeSecure, job.size, PaddedBlockLength(job.size), true,
                  job.sign_text);
  const pugi::xml_attribute prx = domain.attribute("prx");
  xml.WriteRaw("<emails><domain val=\"" + XmlEscapeValue(domain.attribute("val").value()) +
               "\" prx=\"" + XmlEscapeValue(prx ? prx.value() : "0") + "\">" + NodeXml(login) +
               "</domain></emails>");
  xml.CloseRoot();
  pugi::xml_document reply;
  Progress(owner.Form, "msgSending");
  if (!xml.Ok() || SendParts(owner, header, copy, true, reply) != 1) return false;
  const pugi::xml_node rd = reply.document_element().child("emails").first_child();
  const pugi::xml_node rl = rd.first_child();
  // Sealed before the copy is kept: a failed seal leaves the earlier kept
  // copy and its key together.
  if (!rd || !rl || ReadOkAttr(rd) == 0 || ReadOkAttr(rl) == 0 || !SealSentKey(job, key))
    return false;
  // ok 2: the recipient already holds this mail; skipped, not failed.
  SetLoginResult(out, ReadOkAttr(rl) == 2 ? 2 : 1, rl);
  // Recorded at once: a send killed after this never repeats the copy.
  if (IsRecordedOutcome(out) && job.place.Db) {
    const std::string address = LoginAddress(domain, login);
    if (!RecordRecipientSent(*job.place.Db, mail.Id, address, out))
      std::fprintf(stderr, "qovra: %s not recorded as sent: %s\n", address.c_str(),
                   job.place.Db->LastError().c_str());
  }
  // Only a copy the server took becomes the kept <uuid>.eme.
  if (mail.Flags & mfAdminOnly) (void)std::rename(copy_path.c_str(), eme.c_str());
  return true;
}

// Takes every login's pbk off the work document and decides its turn: a
// recipient sent to before is skipped, one without a usable key record
// fails, and the others get a key agreed and a copy queued in run (a
// refused agreement fails at its turn).
void PlanSecureTurns(const TSendPlace& place, const TMailMessage& mail,
                     const pugi::xml_node& emails, const TSendFlags& send_flags, TCopyRun& run,
                     TSecurePlan& plan) {
  const std::string eme =
      place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Enciphered);
  for (pugi::xml_node domain : emails.children("domain")) {
    for (pugi::xml_node login : domain.children("login")) {
      const std::string peer = Base64Decode(login.attribute("pbk").value());
      login.remove_attribute("pbk");
      TSecureTurn& turn = plan.Turns.emplace_back();
      const auto flag = send_flags.find(LowerAddress(LoginAddress(domain, login)));
      if (flag != send_flags.end() && flag->second == 1) {
        turn.Kind = TSecureTurnKind::AlreadySent;
        continue;
      }
      if (peer.size() != kKeyRecordSize) continue;  // BadKey
      std::array<uint8_t, kKeyRecordSize> peer_key{};
      std::copy(peer.begin(), peer.end(), peer_key.begin());
      if (UZDST_CIPHER_KEY_generate(Session.OwnPrivateKey.data(), Session.OwnDhKey.data(),
                                    peer_key.data(), turn.Key.data()) != 1) {
        turn.Kind = TSecureTurnKind::KeyRefused;
        continue;
      }
      turn.Kind = TSecureTurnKind::Copy;
      turn.Copy = run.Add(turn.Key, eme + "." + RandomString(8, kRandomUpperNum) + ".tmp");
    }
  }
}

// The turns of plan in document order; each copy is taken from run as its
// turn comes.
bool SendSecure(TSendJob& job, bool& partial_failure, const TSecurePlan& plan, TCopyRun& run,
                const pugi::xml_node& emails, pugi::xml_document& result) {
  const TCommandOwner& owner = job.owner;
  pugi::xml_node out_emails = result.append_child("response").append_child("emails");
  size_t next = 0;
  for (pugi::xml_node domain : emails.children("domain")) {
    const std::string d = domain.attribute("val").value();
    pugi::xml_node out_domain = out_emails.append_child("domain");
    out_domain.append_attribute("val") = d.c_str();
    out_domain.append_attribute("ok") = "1";
    for (pugi::xml_node login : domain.children("login")) {
      const TSecureTurn& turn = plan.Turns.at(next++);
      const std::string address = LoginAddress(domain, login);
      pugi::xml_node out = out_domain.append_child("login");
      out.append_attribute("val") = login.attribute("val").value();
      if (turn.Kind == TSecureTurnKind::AlreadySent) {
        out.append_attribute("ok") = "2";
        continue;
      }
      bool accepted = false;
      if (turn.Kind != TSecureTurnKind::BadKey) {
        Progress(owner.Form, "msgEncryptingFor", address);
        if (turn.Kind == TSecureTurnKind::KeyRefused) {
          ShowWarning(owner.Form, "msgCannotGenerateEncKey");
        } else {
          // A copy whose file could not be created fails without a word.
          switch (run.Wait(turn.Copy, owner.ProgressBar, ProgressCallback)) {
            case TCopyRun::Made::kReady:
              accepted = SendSecureCopy(job, domain, login, run.Path(turn.Copy), turn.Key, out);
              break;
            case TCopyRun::Made::kFailed:
              ShowWarning(owner.Form, "msgCannotEncryptFile");
              break;
            case TCopyRun::Made::kNotCreated:
              break;
          }
        }
        if (turn.Kind == TSecureTurnKind::Copy) run.Done(turn.Copy);
      }
      if (!accepted) {
        if (!out.attribute("ok")) out.append_attribute("ok") = "0";
        partial_failure = true;
      }
    }
  }
  return true;
}

// The fast-mode package enciphered in the signing pass: copy Copy of the
// run, made under Key from Id, the session's key and id at the time.
struct TFastPackage {
  size_t Copy = 0;
  std::array<uint8_t, kCipherKeySize> Key{};
  std::array<uint8_t, kCipherIvSize> Id{};
  ~TFastPackage() { SecureWipe(Key.data(), Key.size()); }
};

// Writes the package (container, then the recipients text) plain, for the
// request to encipher. False when it cannot be written in full.
bool WritePlainPackage(TSendJob& job, TStream& package, const std::string& recipients) {
  TStream& mail_stream = job.mail_stream;
  return mail_stream.Seek(0, SeekOrigin::Beginning) == 0 &&
         CopyStreamWithHash(mail_stream, job.size, package, job.owner.ProgressBar,
                            ProgressCallback, nullptr, nullptr) == job.size &&
         package.Write(recipients.data(), recipients.size()) == recipients.size();
}

// The kept copy of a mail for administrative use, under the session key.
bool WriteAdminCopy(TSendJob& job, const std::string& path) {
  TEFileStream copy(path, true, false, fmCreate);
  return copy.Opened() && job.mail_stream.Seek(0, SeekOrigin::Beginning) == 0 &&
         CryptStreamWithHash(job.mail_stream, job.size, copy, nullptr, nullptr, nullptr,
                             Session.SessionKey, job.iv, csEncrypt);
}

bool SendFast(TSendJob& job, bool& partial_failure, int mode, const pugi::xml_node& emails,
              TCopyRun& run, const TFastPackage& made, pugi::xml_document& result) {
  const TCommandOwner& owner = job.owner;
  const TMailMessage& mail = job.mail;
  const std::string recipients = NodeXml(emails);
  const int64_t csize = job.size + static_cast<int64_t>(recipients.size());
  if (csize > INT32_MAX) {
    ShowWarning(owner.Form, "msgCannotEncryptFile");
    return false;
  }
  TMemoryStream header;
  TXMLMaker xml(header, "request");
  WriteSendHeader(xml, mail, mode, job.size, csize, false, job.sign_text);
  xml.CloseRoot();
  if (!xml.Ok()) return false;

  Progress(owner.Form, "msgSending");
  const std::string eme =
      job.place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Enciphered);
  const std::string eme_tmp =
      (mail.Flags & mfAdminOnly) ? eme + "." + RandomString(8, kRandomUpperNum) + ".tmp" : "";
  // The package goes out as the signing pass enciphered it, once the
  // recipients text is added; should that copy have failed or the session
  // changed since, it is written plain for the request to encipher.
  const bool ahead = run.Wait(made.Copy, owner.ProgressBar, ProgressCallback) ==
                         TCopyRun::Made::kReady &&
                     made.Key == Session.SessionKey && made.Id == Session.SessionId;
  const std::string package_name =
      ahead ? run.Path(made.Copy)
            : job.place.TempDir + RandomString(16, kRandomUpperNum) + ".emm";
  TEFileStream package(package_name, false, true, ahead ? fmOpenReadWrite : fmCreate);
  if (!package.Opened()) return false;  // shown by the stream
  const bool written =
      (ahead ? ExtendEncipheredCopy(package, job.mail_stream, job.size, recipients, made.Key,
                                    made.Id)
             : WritePlainPackage(job, package, recipients)) &&
      (eme_tmp.empty() || WriteAdminCopy(job, eme_tmp));
  if (!written) {
    if (!eme_tmp.empty()) std::remove(eme_tmp.c_str());
    ShowWarning(owner.Form, "msgCannotEncryptFile");
    return false;
  }

  pugi::xml_document reply;
  const bool sent = SendParts(owner, header, package, ahead, reply) == 1;
  // The kept copy of an administrative mail is under the session key; it is
  // kept only once that key is sealed.
  bool sealed = true;
  if (!eme_tmp.empty()) {
    sealed = sent && SealSentKey(job, Session.SessionKey);
    if (!sealed || std::rename(eme_tmp.c_str(), eme.c_str()) != 0) std::remove(eme_tmp.c_str());
  }
  if (!sent) return false;
  CopyResultDocument(reply, result);
  if (!sealed) {
    // Without its key the mail cannot be opened again: it counts as sent
    // to nobody, and the next send keeps a new copy and seals its key.
    for (pugi::xml_node d : result.document_element().child("emails").children("domain")) {
      for (pugi::xml_node l : d.children("login")) {
        const std::string val = l.attribute("val").value();
        while (l.first_attribute()) l.remove_attribute(l.first_attribute());
        l.append_attribute("val") = val.c_str();
        l.append_attribute("ok") = "0";
      }
    }
    partial_failure = true;
  }
  return true;
}

}  // namespace

bool EncryptFileForRecipient(TWindowHandle owner, std::span<const uint8_t, 256> private_key,
                             std::span<const uint8_t, 768> own_key,
                             std::span<const uint8_t, 768> peer_key,
                             std::span<uint8_t, kCipherKeySize> key, void* progress_data,
                             TProgressProc progress, TStream& dest, TStream& source,
                             TCipherIvView iv) {
  if (UZDST_CIPHER_KEY_generate(private_key.data(), own_key.data(), peer_key.data(), key.data()) !=
      1) {
    ShowWarning(owner, "msgCannotGenerateEncKey");
    return false;
  }
  const int64_t size = source.Size();
  if (source.Seek(0, SeekOrigin::Beginning) != 0 ||
      !CryptStreamWithHash(source, size, dest, progress_data, progress, nullptr, key, iv,
                           csEncrypt)) {
    ShowWarning(owner, "msgCannotEncryptFile");
    return false;
  }
  return true;
}

bool SendMailMessage(const TCommandOwner& owner, const TSendPlace& place, const TMailMessage& mail,
                     bool& partial_failure, int mode, const TSendFlags& send_flags,
                     const pugi::xml_document& certificates, TStream& mail_stream,
                     pugi::xml_document& result) {
  partial_failure = false;
  const pugi::xml_node source_emails = certificates.document_element().child("emails");
  if (!source_emails || !IsValidUuid(mail.Uuid.view())) return false;
  // The workflow's document stays as it was; the copy loses its pbk values.
  pugi::xml_document work;
  const pugi::xml_node emails = work.append_copy(source_emails);

  const THashValue iv = HashString(mail.Uuid.view());
  Progress(owner.Form, "msgSigning");
  // In secure mode the pass that hashes the mail for its signature also
  // enciphers the first recipients' copies; the rest are made ahead while
  // the requests go out one at a time.
  const bool secure = mode == kSendModeSecure;
  // In fast mode the pass enciphers the package's container under the
  // session key instead.
  TCopyRun run(mail_stream, secure ? TCipherIvView(iv) : TCipherIvView(Session.SessionId),
               place.CopiesPerPass);
  TSecurePlan plan;
  TFastPackage fast;
  if (secure) {
    PlanSecureTurns(place, mail, emails, send_flags, run, plan);
  } else {
    fast.Key = Session.SessionKey;
    fast.Id = Session.SessionId;
    fast.Copy = run.Add(fast.Key, place.TempDir + RandomString(16, kRandomUpperNum) + ".emm");
  }
  THashValue hash{};
  int64_t size = 0;
  if (run.Count() > 0) size = run.HashWithFirstBatch(&hash, owner.ProgressBar, ProgressCallback);
  if (size == 0 && mail_stream.Seek(0, SeekOrigin::Beginning) == 0)
    size = HashStream(mail_stream, nullptr, &hash, owner.ProgressBar, ProgressCallback);
  std::array<uint8_t, kSignatureSize> signature{};
  if (size <= 0 || UZDST_SIGNATURE_generate(hash.data(), Session.OwnPrivateKey.data(),
                                            Session.OwnPublicKey.data(), signature.data()) != 1) {
    HideProgress(owner.Form, false);
    ShowMessageText(owner.Form, GetMsg("msgCannotSignFile"), kMsgIconWarning);
    return false;
  }
  std::array<uint8_t, kKeyRecordSize> dh{};
  std::copy(Session.OwnDhKey.begin(), Session.OwnDhKey.end(), dh.begin());
  const std::string sign_text =
      BuildSignatureRecord(mail.Uuid.view(), signature, Session.Certificate, dh, NowUTC());

  Progress(owner.Form, "msgEncrypting");
  result.reset();
  TSendJob job{owner, place, mail, sign_text, size, mail_stream, iv};
  bool completed = false;
  run.StartAhead();
  if (secure) {
    completed = SendSecure(job, partial_failure, plan, run, emails, result);
  } else {
    completed = SendFast(job, partial_failure, mode, emails, run, fast, result);
  }
  HideProgress(owner.Form, false);
  if (!completed) return false;
  const std::string ems =
      place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Signature);
  (void)WriteWholeFile(ems, sign_text);
  return true;
}

}  // namespace qovra

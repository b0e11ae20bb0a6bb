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

// One recipient in secure mode; the login element of result gets its ok
// and values. True when the server accepted the copy.
bool SendSecureCopy(const TCommandOwner& owner, const TSendPlace& place, const TMailMessage& mail,
                    const std::string& sign_text, int64_t size, TStream& mail_stream,
                    TCipherIvView iv, const pugi::xml_node& domain, const pugi::xml_node& login,
                    const std::string& address, const std::string& peer_key, pugi::xml_node& out) {
  Progress(owner.Form, "msgEncryptingFor", address);
  const std::string eme =
      place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Enciphered);
  const std::string tmp = eme + "." + RandomString(8, kRandomUpperNum) + ".tmp";
  std::array<uint8_t, kCipherKeySize> key{};
  bool accepted = false;
  {
    TEFileStream copy(tmp, true, true, fmCreate);
    if (!copy.Opened()) return false;
    std::array<uint8_t, 768> peer{};
    std::copy(peer_key.begin(), peer_key.end(), peer.begin());
    if (!EncryptFileForRecipient(owner.Form, Session.OwnPrivateKey, Session.OwnDhKey, peer, key,
                                 owner.ProgressBar, ProgressCallback, copy, mail_stream, iv)) {
      SecureWipe(key.data(), key.size());
      return false;
    }
    TMemoryStream header;
    TXMLMaker xml(header, "request");
    WriteSendHeader(xml, mail, kSendModeSecure, size, PaddedBlockLength(size), true, sign_text);
    const pugi::xml_attribute prx = domain.attribute("prx");
    xml.WriteRaw("<emails><domain val=\"" + XmlEscapeValue(domain.attribute("val").value()) +
                 "\" prx=\"" + XmlEscapeValue(prx ? prx.value() : "0") + "\">" + NodeXml(login) +
                 "</domain></emails>");
    xml.CloseRoot();
    pugi::xml_document reply;
    Progress(owner.Form, "msgSending");
    if (xml.Ok() && SendParts(owner, header, copy, true, reply) == 1) {
      const pugi::xml_node rd = reply.document_element().child("emails").first_child();
      const pugi::xml_node rl = rd.first_child();
      TSentValues values;
      if (rd && rl && ReadOkAttr(rd) != 0 && ReadOkAttr(rl) == 2) {
        // The recipient already holds this mail: skipped, not failed.
        out.append_attribute("ok") = "2";
        accepted = true;
      } else if (rd && rl && ReadOkAttr(rd) != 0 && ReadOkAttr(rl) != 0 &&
                 ReadSentValues(rl, values)) {
        out.append_attribute("ok") = "1";
        out.append_attribute("suid") = values.Suid.c_str();
        out.append_attribute("ymbox") = values.Ymbox.c_str();
        out.append_attribute("sent_time") = values.SentTime.c_str();
        accepted = true;
        if (place.Db && place.Db->IsOpen())
          (void)StoreMailKey(*place.Db, mail, key, Session.OwnPrivateKey);
      }
    }
    // Only a copy the server accepted becomes the kept <uuid>.eme.
    if (accepted && (mail.Flags & mfAdminOnly) && std::rename(tmp.c_str(), eme.c_str()) == 0)
      copy.SetDeleteOnFree(false);
  }
  SecureWipe(key.data(), key.size());
  return accepted;
}

bool SendSecure(const TCommandOwner& owner, const TSendPlace& place, const TMailMessage& mail,
                bool& partial_failure, const TSendFlags& send_flags, const pugi::xml_node& emails,
                const std::string& sign_text, int64_t size, TStream& mail_stream, TCipherIvView iv,
                pugi::xml_document& result) {
  pugi::xml_node out_emails = result.append_child("response").append_child("emails");
  for (pugi::xml_node domain : emails.children("domain")) {
    const std::string d = domain.attribute("val").value();
    pugi::xml_node out_domain = out_emails.append_child("domain");
    out_domain.append_attribute("val") = d.c_str();
    out_domain.append_attribute("ok") = "1";
    for (pugi::xml_node login : domain.children("login")) {
      const std::string peer_key = Base64Decode(login.attribute("pbk").value());
      login.remove_attribute("pbk");
      const std::string l = login.attribute("val").value();
      const std::string address = l + "@" + d;
      pugi::xml_node out = out_domain.append_child("login");
      out.append_attribute("val") = l.c_str();
      const auto flag = send_flags.find(LowerAddress(address));
      if (flag != send_flags.end() && flag->second == 1) {
        out.append_attribute("ok") = "2";
        continue;
      }
      if (peer_key.size() != 768 ||
          !SendSecureCopy(owner, place, mail, sign_text, size, mail_stream, iv, domain, login,
                          address, peer_key, out)) {
        if (!out.attribute("ok")) out.append_attribute("ok") = "0";
        partial_failure = true;
      }
    }
  }
  return true;
}

bool SendFast(const TCommandOwner& owner, const TSendPlace& place, const TMailMessage& mail,
              bool& partial_failure, int mode, const pugi::xml_node& emails,
              const std::string& sign_text, int64_t size, TStream& mail_stream, TCipherIvView iv,
              pugi::xml_document& result) {
  const std::string recipients = NodeXml(emails);
  const int64_t csize = size + static_cast<int64_t>(recipients.size());
  if (csize > INT32_MAX) {
    ShowWarning(owner.Form, "msgCannotEncryptFile");
    return false;
  }
  TMemoryStream header;
  TXMLMaker xml(header, "request");
  WriteSendHeader(xml, mail, mode, size, csize, false, sign_text);
  xml.CloseRoot();
  if (!xml.Ok()) return false;

  Progress(owner.Form, "msgSending");
  const std::string package_name = place.TempDir + RandomString(16, kRandomUpperNum) + ".emm";
  TEFileStream package(package_name, false, true, fmCreate);
  if (!package.Opened()) return false;
  if (mail_stream.Seek(0, SeekOrigin::Beginning) != 0 ||
      CopyStreamWithHash(mail_stream, size, package, owner.ProgressBar, ProgressCallback, nullptr,
                         nullptr) != size ||
      package.Write(recipients.data(), recipients.size()) != recipients.size())
    return false;

  // The kept copy of an administrative mail, under the session key.
  std::string eme_tmp;
  const std::string eme =
      place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Enciphered);
  if (mail.Flags & mfAdminOnly) {
    eme_tmp = eme + "." + RandomString(8, kRandomUpperNum) + ".tmp";
    TEFileStream copy(eme_tmp, true, false, fmCreate);
    if (!copy.Opened() || mail_stream.Seek(0, SeekOrigin::Beginning) != 0 ||
        !CryptStreamWithHash(mail_stream, size, copy, nullptr, nullptr, nullptr, Session.SessionKey,
                             iv, csEncrypt)) {
      std::remove(eme_tmp.c_str());
      eme_tmp.clear();
    }
  }

  pugi::xml_document reply;
  const bool sent = SendParts(owner, header, package, false, reply) == 1;
  if (!eme_tmp.empty()) {
    if (sent && std::rename(eme_tmp.c_str(), eme.c_str()) == 0) {
      if (place.Db && place.Db->IsOpen())
        (void)StoreMailKey(*place.Db, mail, Session.SessionKey, Session.OwnPrivateKey);
    } else {
      std::remove(eme_tmp.c_str());
    }
  }
  if (!sent) return false;
  CopyResultDocument(reply, result, partial_failure);
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
  THashValue hash{};
  int64_t size = 0;
  if (mail_stream.Seek(0, SeekOrigin::Beginning) == 0)
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
  const bool completed = mode == kSendModeSecure
                             ? SendSecure(owner, place, mail, partial_failure, send_flags, emails,
                                          sign_text, size, mail_stream, iv, result)
                             : SendFast(owner, place, mail, partial_failure, mode, emails,
                                        sign_text, size, mail_stream, iv, result);
  HideProgress(owner.Form, false);
  if (!completed) return false;
  const std::string ems =
      place.MessagesDir + MailFileName(mail.Uuid.view(), MailFileKind::Signature);
  (void)WriteWholeFile(ems, sign_text);
  return true;
}

}  // namespace qovra

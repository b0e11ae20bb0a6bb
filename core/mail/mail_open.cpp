#include "mail/mail_open.h"

#include <unistd.h>

#include <pugixml.hpp>
#include <string>

#include "base/file_stream.h"
#include "base/secure_wipe.h"
#include "base/time_stamp.h"
#include "commands/mail_commands_client.h"
#include "keys/random_text.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "store/mail_db.h"
#include "store/mail_db_key.h"

namespace qovra {

namespace {

std::string MailPath(const TMailMessage& mail, MailFileKind kind) {
  return MessagesDir + MailFileName(mail.Uuid.view(), kind);
}

struct KeyWipe {
  std::array<uint8_t, kCipherKeySize>& k;
  ~KeyWipe() { SecureWipe(k.data(), k.size()); }
};

bool AllZero(std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes)
    if (b != 0) return false;
  return true;
}

}  // namespace

bool ConvertAdminMail(TMailMessage& mail, void* progress_data, TProgressProc progress) {
  const std::string emz = MailPath(mail, MailFileKind::Container);
  const std::string eme = MailPath(mail, MailFileKind::Enciphered);
  if (AllZero(Session.OwnPrivateKey)) return false;
  TEFileStream source(emz, /*silent=*/true, false, fmOpenRead);
  if (!source.Opened()) return false;
  const int64_t size = source.Size();
  if (size <= 0) return false;
  std::array<uint8_t, kCipherKeySize> key{};
  KeyWipe wipe{key};
  RandomBytes(key.data(), key.size());
  const std::span<const uint8_t, 256> priv(Session.OwnPrivateKey);
  const std::string sealed = SealMailKey(mail.Uuid.view(), key, priv);
  if (sealed.size() != kSealedMailKeySize) return false;
  const std::string temp = eme + ".part";
  bool ok = false;
  {
    TEFileStream out(temp, /*silent=*/true, false, fmCreate);
    ok = out.Opened() && CryptStream(source, size, out, progress_data, progress, key,
                                     HashString(mail.Uuid.view()), {}, csEncrypt);
  }
  TMailMessage updated = mail;
  updated.MailSize = size;
  ok = ok && StoreMailKey(MailDb, updated, key, priv) && ::rename(temp.c_str(), eme.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  ::unlink(emz.c_str());
  mail.MailSize = size;
  std::copy(sealed.begin(), sealed.end(), mail.FauKey.begin());
  return true;
}

bool DecryptAdminMail(const TMailMessage& mail, TMemoryStream& out, THashValue* hash,
                      void* progress_data, TProgressProc progress) {
  if (AllZero(Session.OwnPrivateKey) || AllZero(mail.FauKey)) return false;
  const THashValue iv = HashString(mail.Uuid.view());
  const std::string_view form(reinterpret_cast<const char*>(mail.FauKey.data()),
                              mail.FauKey.size());
  const std::span<const uint8_t, 256> priv(Session.OwnPrivateKey);
  std::string plain_key = DecryptString(form, iv, priv.first<kCipherKeySize>());
  if (plain_key.size() < kCipherKeySize) {
    SecureWipe(plain_key.data(), plain_key.size());
    return false;
  }
  std::array<uint8_t, kCipherKeySize> key{};
  KeyWipe wipe{key};
  std::copy_n(plain_key.begin(), kCipherKeySize, key.begin());
  SecureWipe(plain_key.data(), plain_key.size());
  TEFileStream file(MailPath(mail, MailFileKind::Enciphered), /*silent=*/true, false, fmOpenRead);
  if (!file.Opened()) return false;
  const int64_t size = file.Size();
  if (size <= 0 || size > kAdminMailMemoryCap) return false;
  const uint8_t last = static_cast<uint8_t>(mail.MailSize % 32);
  if (!CryptStreamWithHash(file, size, out, progress_data, progress, hash, key, iv,
                           csHashOutput | CryptLastLengthFlags(last)))
    return false;
  (void)out.Seek(0, SeekOrigin::Beginning);
  return true;
}

bool ReadReceiptDue(const TMailMessage& mail) {
  return Session.State == 1 && (mail.Flags & mfReadReport) != 0 && (mail.Flags & mfReceived) != 0 &&
         (mail.Flags & mfRead) == 0;
}

bool LocalReadDue(const TMailMessage& mail) {
  return (mail.Flags & mfReceived) != 0 && (mail.Flags & (mfRead | mfReadReport)) == 0;
}

bool MarkReadLocally(TMailMessage& mail) {
  const uint16_t flags = mail.Flags | mfRead;
  if (!MailDb.IsOpen() || !SetMailFlag(MailDb, mail.Id, flags)) return false;
  mail.Flags = flags;
  return true;
}

void ApplyReadReceiptReply(const pugi::xml_node& rep, TMailMessage& mail) {
  if (rep) {
    const std::string suid = rep.attribute("suid").value();
    if (IsServerCopyId(suid)) mail.Suid = suid;
    const auto time_of = [&rep](const char* name) {
      const std::string_view text = rep.attribute(name).value();
      return StampToDateTime(IsTimeText(text) ? text : kZeroTimeText);
    };
    mail.ReceivedTime = time_of("received_time");
    mail.ReadTime = time_of("read_time");
    const std::string flag = rep.attribute("flag").value();
    if (!flag.empty() && flag.size() <= 5 &&
        flag.find_first_not_of("0123456789") == std::string::npos && std::stoi(flag) <= 0xFFFF)
      mail.Flags = static_cast<uint16_t>(std::stoi(flag));
  }
  // The receipt went: never again, whatever the reply's flag says.
  mail.Flags |= mfRead;
}

bool SendReadReceipt(const TCommandOwner& owner, TMailMessage& mail) {
  pugi::xml_document reply;
  if (!UpdateMailFlag(owner, mail.Uuid.view(), mail.Ymbox, reply, /*visible=*/false, mfReadReport))
    return false;
  const pugi::xml_node rep = reply.document_element().child("rep");
  ApplyReadReceiptReply(rep, mail);
  if (rep && MailDb.IsOpen() && IsServerCopyId(mail.Suid.view())) {
    SqliteStatement st =
        MailDb.Prepare("UPDATE ecm_recipients SET read_time=?,received_time=? WHERE suid=?");
    st.Bind(1, DateTimeToStamp(true, mail.ReadTime));
    st.Bind(2, DateTimeToStamp(true, mail.ReceivedTime));
    st.Bind(3, mail.Suid.view());
    (void)st.Run();
  }
  if (MailDb.IsOpen()) (void)SetMailFlag(MailDb, mail.Id, mail.Flags);
  return true;
}

}  // namespace qovra

#include "mail/receiving_keep.h"

#include <fcntl.h>
#include <unistd.h>
#include <zarvo.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/secure_wipe.h"
#include "base/stream.h"
#include "keys/crypto_binding.h"
#include "mail/signature_check.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "platform/file_place.h"
#include "platform/temp_files.h"
#include "settings/settings.h"
#include "store/mail_container_reader.h"
#include "store/mail_db.h"
#include "store/mail_db_key.h"
#include "tevqa.h"

namespace qovra {
namespace {

std::string MailFile(const TMailMessage& mail, std::string_view ext) {
  return MessagesDir + mail.Uuid.str() + std::string(ext);
}

// True when the files at a and b hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b) {
  TEFileStream fa(a, true, false, fmOpenRead), fb(b, true, false, fmOpenRead);
  if (!fa.Opened() || !fb.Opened() || fa.Size() != fb.Size()) return false;
  std::array<char, 65536> ba{}, bb{};
  for (;;) {
    const size_t na = fa.Read(ba.data(), ba.size());
    if (na == 0) return true;
    if (!fb.ReadBuffer(bb.data(), na) || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
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

  // Makes the target; 0, or the errno of the temporary file that could not
  // be made.
  int Open(const TMailMessage& mail) {
    if (in_memory_) return 0;
    const int fd = CreateUniqueFile(MessagesDir, mail.Uuid.str() + ".", ".part", temp_);
    if (fd < 0) return errno != 0 ? errno : EIO;
    ::close(fd);
    file_ = std::make_unique<TEFileStream>(temp_, true, false, fmOpenReadWrite);
    return file_->Opened() ? 0 : EIO;
  }
  // Takes over the temporary file of plain (a file target only).
  bool Adopt(TPlainMail& plain) {
    if (in_memory_) return false;
    temp_ = std::move(plain.Path);
    plain.Path.clear();
    file_ = std::make_unique<TEFileStream>(temp_, true, false, fmOpenReadWrite);
    return file_->Opened();
  }
  TStream& Stream() { return in_memory_ ? static_cast<TStream&>(memory_) : *file_; }

  // What Place did.
  enum class Placed { New, Existing, Clash, Failed };
  // Gives the temporary file the name final_name, never replacing a file:
  // New when it now has that name; Existing when a file of that name holds
  // the same bytes already (a run that stopped before its row, or the
  // sender's own copy of a mail to oneself); Clash when that file holds
  // other bytes; Failed (errno in error) when it could not be placed.
  Placed Place(const std::string& final_name, int& error) {
    error = 0;
    if (in_memory_) return Placed::New;
    file_.reset();
    const int rc = PlaceFileNoReplace(temp_, final_name);
    if (rc == 0) {
      temp_.clear();
      return Placed::New;
    }
    if (rc == EEXIST) return SameBytes(temp_, final_name) ? Placed::Existing : Placed::Clash;
    error = rc;
    return Placed::Failed;
  }

 private:
  bool in_memory_;
  TMemoryStream memory_;
  std::unique_ptr<TEFileStream> file_;
  std::string temp_;
};

class Keeper {
 public:
  Keeper(const TKeepRun& run, TMailMessage& mail) : run_(run), mail_(mail) {}
  ~Keeper() { SecureWipe(key_.data(), key_.size()); }
  Keeper(const Keeper&) = delete;
  Keeper& operator=(const Keeper&) = delete;

  TKeepResult Run(std::unique_ptr<TPlainMail> plain);

 private:
  TKeepResult Fail(std::string_view key) {
    ShowWarning(run_.Owner.Form, key);
    return TKeepResult::Failed;
  }
  void Status(std::string_view key) {
    if (!run_.Silent) ShowProgress(run_.Owner.Form, true, run_.Title, GetMsg(key));
  }
  // Reads the sender's record from the certificate of signature.
  bool SenderCertificate(const TMailSignature& signature);
  // The mail's key: agreed with the sender (secure mode) or the session's.
  bool AgreeKey();
  TKeepResult CheckAndKeep(DecryptTarget& target, const TMailSignature& signature,
                           std::unique_ptr<TPlainMail> plain, TStream* eme);
  // The row (and the sealed key) in one transaction.
  bool CommitRow(const TMailReader& reader);
  TKeepResult NotKept(std::string_view key) {
    ShowWarning(run_.Owner.Form, key);
    return TKeepResult::NotKept;
  }

  const TKeepRun& run_;
  TMailMessage& mail_;
  std::array<uint8_t, kKeyRecordSize> sender_{};
  std::array<uint8_t, kCipherKeySize> key_{};
};

bool Keeper::SenderCertificate(const TMailSignature& signature) {
  const std::string& cert = signature.Certificate;
  return signature.HasSignature && !cert.empty() && cert.size() <= INT32_MAX &&
         initBPb(cert.data(), static_cast<int32_t>(cert.size()), sender_.data()) != 0;
}

bool Keeper::AgreeKey() {
  if (mail_.SendMode != kSendModeSecure) {
    key_ = Session.SessionKey;
    return true;
  }
  return UZDST_CIPHER_KEY_generate(Session.OwnPrivateKey.data(), Session.OwnDhKey.data(),
                                   sender_.data(), key_.data()) == 1;
}

bool Keeper::CommitRow(const TMailReader& reader) {
  SqliteTransaction tx(MailDb);
  if (!tx.Active()) return false;
  mail_.Subject = reader.Subject();
  mail_.Id = SaveMailToDatabase(MailDb, mail_, Session.OwnContact.Email, ProgressCallback,
                                run_.Owner.ProgressBar, false);
  if (mail_.Id == 0) return false;
  const std::span<const uint8_t, 256> priv(Session.OwnPrivateKey);
  if ((mail_.Flags & mfAdminOnly) && !StoreMailKey(MailDb, mail_, key_, priv)) return false;
  return tx.Commit();
}

TKeepResult Keeper::CheckAndKeep(DecryptTarget& target, const TMailSignature& signature,
                                 std::unique_ptr<TPlainMail> plain, TStream* eme) {
  if (plain) {
    if (!target.Adopt(*plain)) return Fail("msgCannotDecryptMail");
  } else if (const int err = target.Open(mail_); err != 0) {
    // A local fault, not the mail's: it is fetched again next time.
    ShowFileError(MessagesDir + mail_.Uuid.str() + ".part", err);
    return TKeepResult::NotKept;
  }
  const THashValue iv = HashString(mail_.Uuid.view());
  const uint8_t last = static_cast<uint8_t>(mail_.MailSize % 32);
  THashValue hash{};
  Status("msgVerifying");
  if (plain) {
    hash = plain->Hash;
  } else if (!CryptStreamWithHash(*eme, eme->Size(), target.Stream(), run_.Owner.ProgressBar,
                                  ProgressCallback, &hash, key_, iv,
                                  csHashOutput | CryptLastLengthFlags(last))) {
    return Fail("msgCannotDecryptMail");
  }
  // The length first: a longer file must not pass as a bad signature.
  if (target.Stream().Size() != mail_.MailSize) return Fail("msgMessageSizeIncorrect");
  const auto known_hash = [&hash](THashValue* out) {
    *out = hash;
    return true;
  };
  if (CheckMailSignature(signature, {.Flags = 0, .CheckValidity = false}, known_hash).Status !=
      kSignValid)
    return Fail("msgUnauthenticSignature");
  Status("msgParsingMail");
  TMailReader reader(target.Stream());
  reader.SetReadInPlace(true);  // the target outlives the reader
  if (!reader.Parse(ProgressCallback, run_.Owner.ProgressBar)) return Fail("msgMailFileCorrupted");

  Status("msgSaving");
  const std::string emz = MailFile(mail_, ".emz");
  int err = 0;
  const DecryptTarget::Placed placed = target.Place(emz, err);
  if (placed == DecryptTarget::Placed::Clash) {
    // Another mail holds this name: it stays, this one cannot be kept.
    std::fprintf(stderr, "qovra: mail %s: a different %s exists\n", mail_.Uuid.str().c_str(),
                 emz.c_str());
    return Fail("msgMailFileCorrupted");
  }
  if (placed == DecryptTarget::Placed::Failed) {
    ShowFileError(emz, err);
    return TKeepResult::NotKept;
  }
  if (run_.FileKept) run_.FileKept();
  if (!CommitRow(reader)) {
    std::fprintf(stderr, "qovra: mail %s not stored: %s\n", mail_.Uuid.str().c_str(),
                 MailDb.LastError().c_str());
    // No file without its row: a file this run placed goes again.
    if (placed == DecryptTarget::Placed::New && (mail_.Flags & mfAdminOnly) == 0)
      ::unlink(emz.c_str());
    mail_.Id = 0;
    mail_.Subject = u"";
    return NotKept("msgDatabaseError");
  }
  return TKeepResult::Kept;
}

TKeepResult Keeper::Run(std::unique_ptr<TPlainMail> plain) {
  const bool admin = (mail_.Flags & mfAdminOnly) != 0;
  const std::string eme_name = MailFile(mail_, ".eme");
  // Every ordinary mail's enciphered file goes once the check is over.
  struct DropEme {
    const std::string& name;
    bool drop;
    ~DropEme() {
      if (drop) ::unlink(name.c_str());
    }
  } drop_eme{eme_name, !admin};

  const TMailSignature signature = ReadMailSignature(MailFile(mail_, ".ems"), /*silent=*/false);
  if (!signature.HasSignature && !signature.Corrupt) return TKeepResult::Failed;  // shown
  if (!SenderCertificate(signature)) return Fail("msgInvalidSenderCertificate");
  if (!AgreeKey()) {
    drop_eme.drop = false;  // kept, as with every mail whose key was refused
    return Fail("msgIncompatibleSenderDiffieHellmanKey");
  }
  if (!plain && ::access(eme_name.c_str(), F_OK) != 0) return Fail("msgMailNotFound");
  std::unique_ptr<TEFileStream> eme;
  if (!plain) {
    eme = std::make_unique<TEFileStream>(eme_name, false, false, fmOpenRead);
    if (!eme->Opened()) return TKeepResult::Failed;  // shown by the stream
  }
  DecryptTarget target(admin);
  return CheckAndKeep(target, signature, std::move(plain), eme.get());
}

}  // namespace

TKeepResult CheckAndKeepMail(const TKeepRun& run, TMailMessage& mail,
                             std::unique_ptr<TPlainMail> plain) {
  Keeper keeper(run, mail);
  return keeper.Run(std::move(plain));
}

}  // namespace qovra

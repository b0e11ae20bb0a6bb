// Sending from a compose window (mail_send.h).
#include "qovra/workspace/mail_send.h"

#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "base/address_list.h"
#include "base/file_stream.h"
#include "base/messages.h"
#include "base/secure_wipe.h"
#include "base/utf.h"
#include "mail/sending.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/compose_rules.h"
#include "qovra/workspace/new_form.h"
#include "qovra/workspace/new_mail_top.h"
#include "settings/settings.h"
#include "store/mail_container_date.h"
#include "store/mail_db.h"

namespace qovra::compose {

namespace {

void* ProgressBar() {
  return frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
}

void OfferUnknownRecipients(TNewForm& form, const std::vector<TContact>& unknown) {
  if (unknown.empty() || !AddrBookDb.IsOpen()) return;
  TfrmContactsList picker(AddrBookDb, &form);
  picker.chkShowGroups->setText(QString::fromStdString(GetMsg("btnCheckAll")));
  for (const TContact& c : unknown) picker.AddUnknownRecipient(c);
  if (picker.ExecuteUnknownRecipients() != 1) return;
  for (TContact c : picker.CheckedContacts()) {
    if (SaveContact(AddrBookDb, c, 0, c.Email) == kAbDbError)
      std::fprintf(stderr, "qovra: cannot store %s: %s\n", c.Email.c_str(),
                   AddrBookDb.LastError().c_str());
  }
}

void SetFlag(TMailMessage& mail, uint16_t flag, bool on) {
  mail.Flags = static_cast<uint16_t>(on ? (mail.Flags | flag) : (mail.Flags & ~flag));
}

// The priority and both report flags as the window shows them.
void TakeWindowChoices(TMailMessage& mail, const TframeNewMailTop& top) {
  mail.Priority = static_cast<uint8_t>(top.PriorityTag());
  SetFlag(mail, mfDeliveryReport, top.btnReceiveReport->isChecked());
  SetFlag(mail, mfReadReport, top.btnReadReport->isChecked());
}

// A mail sent as stored (a reopened mail left unedited): its header row
// takes the window's choices when they differ from stored; false when that
// store failed.
bool StoreChoices(const TMailMessage& mail, const TMailMessage& stored) {
  const uint16_t choices = mfDeliveryReport | mfReadReport;
  if (mail.Id <= 0 ||
      (mail.Priority == stored.Priority && (mail.Flags & choices) == (stored.Flags & choices)))
    return true;
  bool existed = false;
  if (SaveMailHeader(MailDb, mail, nullptr, nullptr, false, existed) > 0) return true;
  std::fprintf(stderr, "qovra: cannot store the mail's header: %s\n", MailDb.LastError().c_str());
  return false;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

bool SendComposedMail(TNewForm& form, const TSendSource& source) {
  TframeNewMailTop* top = form.GetTopFrame();
  TMailMessage* mail = form.Mail;
  if (!top || !mail) return false;
  const TWindowHandle owner = ui::HandleOf(&form);

  const QString to_text = top->eTo->text();
  if (to_text.isEmpty()) {
    ShowWarning(owner, "msgEMailAddressesNotSpecified");
    top->eTo->setFocus();
    return false;
  }
  const std::string list = NormalizeAddressList(to_text.toStdString());
  TEMailList entries;
  if (list.empty() || !SplitAddressList(entries, list, ';')) {
    ShowWarning(owner, "msgEMailAddressesIsInvalid");
    top->eTo->setFocus();
    return false;
  }
  const TMailMessage before = *mail;
  // The kind bits describe what goes out now, not what the mail held.
  mail->Flags = static_cast<uint16_t>(mail->Flags & ~(mfAttachments | mfVoice));
  form.FillMessage(
      mail, list,
      static_cast<uint16_t>(source.KindFlags | (source.AttachmentRows > 0 ? mfAttachments : 0)));

  // The box for administrative use changed on a reopened mail: it is
  // stored again, so that it goes with its flag.
  const bool fau_changed = top->chkFAU->isChecked() != ((mail->Flags & mfAdminOnly) != 0);
  const bool write_content = form.Modified || form.WriteContent || fau_changed;
  std::unique_ptr<TEFileStream> own_stream;
  TStream* stream = form.MailStream;
  const std::string path = MessagesDir + std::string(mail->Uuid.view()) + ".emz";
  // The priority and the report buttons go with the mail as they are now,
  // edited or not.
  TakeWindowChoices(*mail, *top);
  if (write_content) {
    if (source.AttachmentBytes > kMaxContainerSize) {
      *mail = before;
      ShowWarning(owner, "msgMailTooBig");
      return false;
    }
    ShowProgress(owner, true, GetMsg("msgSendingMailMessage"), GetMsg("msgPreparing"));
    auto write = [&form, &list](TStream& s) {
      return form.WriteMessage(s, list, ProgressBar(), ProgressCallback);
    };
    if (form.ContentPreset && form.MailStream) {
      stream = form.MailStream;
      if (!stream->SetSize(0) || !stream->SetPosition(0) || !write(*stream)) {
        *mail = before;
        HideProgress(owner, false);
        ShowWarning(owner, "msgCannotWriteMail");
        return false;
      }
    } else {
      mail->Recipients = entries;
      const TContainerWrite written = WriteContainerFile(path, write, own_stream);
      if (written != TContainerWrite::Written) {
        *mail = before;
        HideProgress(owner, false);
        if (written == TContainerWrite::TooBig) ShowWarning(owner, "msgMailTooBig");
        if (written == TContainerWrite::Failed) ShowWarning(owner, "msgCannotWriteMail");
        return false;
      }
      stream = own_stream.get();
    }
    mail->SentTime = LocalNow();
    mail->FolderId = kFolderOutbox;
    SetFlag(*mail, mfAdminOnly, top->chkFAU->isChecked());
    mail->MailSize = stream->Size();
    mail->Suid = "";
    ShowProgress(owner, true, GetMsg("msgSendingMailMessage"), GetMsg("msgSaving"));
    const int32_t id = SaveMailToDatabase(MailDb, *mail, Session.OwnContact.Email, ProgressCallback,
                                          ProgressBar(), false);
    HideProgress(owner, false);
    if (id <= 0) {
      std::fprintf(stderr, "qovra: cannot store the mail: %s\n", MailDb.LastError().c_str());
      own_stream.reset();
      // A file that no row refers to is not kept (a forward's file is its
      // command's to keep or remove).
      if (before.Id <= 0 && !form.ContentPreset) (void)::unlink(path.c_str());
      *mail = before;
      ShowWarning(owner, "msgDatabaseError");
      return false;
    }
    mail->Id = id;
  } else if (!StoreChoices(*mail, before)) {
    *mail = before;
    ShowWarning(owner, "msgDatabaseError");
    return false;
  }
  if (!stream) return false;

  if (top->eSubject->text().isEmpty() && !AskYesNo(owner, "msgConfirmEmptySubject")) {
    top->eSubject->setFocus();
    return false;
  }

  const TCommandOwner command_owner{owner, "TfrmNewMail", ProgressBar()};
  const TSendPlace place{MessagesDir, GetTempFolder(), &MailDb};
  (void)stream->SetPosition(0);
  const TSendOutcome outcome =
      RunSendSteps(command_owner, place, *mail, top->SendingModeTag(), entries, *stream,
                   [](std::string_view address) {
                     return AddrBookDb.IsOpen() && ContactEmailExists(AddrBookDb, address);
                   });

  const bool completed = outcome.Sent && !outcome.PartialFailure;
  own_stream.reset();
  if (completed && write_content) form.Modified = false;
  // Once the send kept the enciphered copy, the plain one written here has
  // no reader left: it goes, whatever the outcome.
  if ((mail->Flags & mfAdminOnly) && outcome.Attempted && write_content &&
      IsRegularFile(MessagesDir + std::string(mail->Uuid.view()) + ".eme"))
    (void)WipeAndDeleteFile(path, /*wipe=*/true);
  OfferUnknownRecipients(form, outcome.Unknown);
  HideProgress(owner, false);
  if (!outcome.Sent) return false;
  form.done(1);
  return true;
}

}  // namespace qovra::compose

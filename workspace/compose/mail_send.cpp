// Sending from a compose window (mail_send.h).
#include "qovra/workspace/mail_send.h"

#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QToolButton>
#include <cstdio>
#include <memory>
#include <string>

#include "base/address_list.h"
#include "base/file_stream.h"
#include "base/messages.h"
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

}  // namespace

bool SendComposedMail(TNewForm& form, const TSendSource& source) {
  TframeNewMailTop* top = form.GetTopFrame();
  TMailMessage* mail = form.Mail;
  if (!top || !mail) return false;
  const TWindowHandle owner = ui::HandleOf(&form);

  const QString to_text = top->eTo->text();
  if (to_text.trimmed().isEmpty()) {
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
  form.FillMessage(
      mail, list,
      static_cast<uint16_t>(source.KindFlags | (source.AttachmentRows > 0 ? mfAttachments : 0)));

  // The box for administrative use changed on a reopened mail: it is
  // stored again, so that it goes with its flag and keeps no plain copy.
  const bool fau_changed = top->chkFAU->isChecked() != ((mail->Flags & mfAdminOnly) != 0);
  const bool write_content = form.Modified || form.WriteContent || fau_changed;
  std::unique_ptr<TEFileStream> own_stream;
  TStream* stream = form.MailStream;
  const std::string path = MessagesDir + std::string(mail->Uuid.view()) + ".emz";
  if (write_content) {
    if (source.AttachmentBytes > kMaxContainerSize) {
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
        HideProgress(owner, false);
        ShowWarning(owner, "msgCannotWriteMail");
        return false;
      }
    } else {
      mail->Recipients = entries;
      const TContainerWrite written = WriteContainerFile(path, write, own_stream);
      if (written != TContainerWrite::Written) {
        HideProgress(owner, false);
        if (written == TContainerWrite::TooBig) ShowWarning(owner, "msgMailTooBig");
        if (written == TContainerWrite::Failed) ShowWarning(owner, "msgCannotWriteMail");
        return false;
      }
      stream = own_stream.get();
    }
    mail->SentTime = LocalNow();
    mail->FolderId = kFolderOutbox;
    mail->Priority = static_cast<uint8_t>(top->PriorityTag());
    auto set_flag = [mail](uint16_t flag, bool on) {
      mail->Flags = static_cast<uint16_t>(on ? (mail->Flags | flag) : (mail->Flags & ~flag));
    };
    set_flag(mfReadReport, top->btnReadReport->isChecked());
    set_flag(mfDeliveryReport, top->btnReceiveReport->isChecked());
    set_flag(mfAdminOnly, top->chkFAU->isChecked());
    mail->MailSize = stream->Size();
    mail->Suid = "";
    ShowProgress(owner, true, GetMsg("msgSendingMailMessage"), GetMsg("msgSaving"));
    mail->Id = SaveMailToDatabase(MailDb, *mail, Session.OwnContact.Email, ProgressCallback,
                                  ProgressBar(), false);
    HideProgress(owner, false);
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
  // The plain copy of a mail for administrative use goes once every
  // recipient has it; until then it stays with the outbox row.
  if ((mail->Flags & mfAdminOnly) && completed && write_content) ::unlink(path.c_str());
  OfferUnknownRecipients(form, outcome.Unknown);
  HideProgress(owner, false);
  if (!outcome.Sent) return false;
  form.done(1);
  return true;
}

}  // namespace qovra::compose

// TfrmMain: a new text or voice mail and sending it.
#include <QToolButton>

#include "base/records.h"
#include "base/utf.h"
#include "keys/random_text.h"
#include "platform/file_utils.h"
#include "qovra/workspace/mail_send.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/new_voice_mail.h"

int TfrmMain::acMailNewExecute() {
  if (frmNewMail_) return 0;
  const TActiveFormScope scope(*this, TActiveFormKind::TextCompose);
  TComposeCommands commands;
  commands.Send = alMain->acMailSend;
  commands.SaveToDrafts = alMain->acMailSaveToDrafts;
  commands.ContactsBook = alMain->acToolsContactsBook;
  TfrmNewMail form(commands, this);
  frmNewMail_ = &form;
  StatusReady();
  qovra::TMailMessage mail;
  mail.FolderId = qovra::kFolderOutbox;
  mail.Uuid = qovra::RandomHexString(16);
  mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
  form.Mail = &mail;
  form.WriteContent = true;
  form.ContentPreset = false;
  form.frameNewMailTop1->btnReceiveReport->setChecked(true);
  form.frameNewMailTop1->btnReadReport->setChecked(true);
  const int result = form.exec();
  frmNewMail_ = nullptr;
  if (result == 1) {
    RefreshFolderCounters();
    SelectFolder(qovra::kFolderSent);
  } else if (result == 4) {
    RefreshFolderCounters();
    SelectFolder(qovra::kFolderDrafts);
  }
  return result;
}

int TfrmMain::acMailNewVoiceExecute() {
  if (frmNewMail_ || frmNewVoiceMail_) return 0;
  const TActiveFormScope scope(*this, TActiveFormKind::VoiceCompose);
  TComposeCommands commands;
  commands.Send = alMain->acMailSend;
  commands.SaveToDrafts = alMain->acMailSaveToDrafts;
  TfrmNewVoiceMail form(commands, this);
  frmNewVoiceMail_ = &form;
  StatusReady();
  qovra::TMailMessage mail;
  mail.FolderId = qovra::kFolderOutbox;
  mail.Uuid = qovra::RandomHexString(16);
  mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
  form.Mail = &mail;
  form.WriteContent = true;
  form.ContentPreset = false;
  form.frameNewMailTop1->btnReceiveReport->setChecked(true);
  form.frameNewMailTop1->btnReadReport->setChecked(true);
  const int result = form.exec();
  frmNewVoiceMail_ = nullptr;
  if (result == 1) {
    RefreshFolderCounters();
    SelectFolder(qovra::kFolderSent);
  } else if (result == 4) {
    RefreshFolderCounters();
    SelectFolder(qovra::kFolderDrafts);
  }
  return result;
}

bool TfrmMain::acMailSendExecute() {
  if (frmNewVoiceMail_ && active_form_kind_ == TActiveFormKind::VoiceCompose) {
    qovra::compose::TSendSource source;
    source.KindFlags = qovra::mfVoice;
    source.AttachmentRows = frmNewVoiceMail_->HasVoice ? 1 : 0;
    source.AttachmentBytes =
        frmNewVoiceMail_->HasVoice
            ? qovra::GetFileSizeW(qovra::Utf8ToUtf16(frmNewVoiceMail_->CompressedFile()))
            : 0;
    return qovra::compose::SendComposedMail(*frmNewVoiceMail_, source);
  }
  if (!frmNewMail_ || active_form_kind_ != TActiveFormKind::TextCompose) return false;
  TfrmNewMail& form = *frmNewMail_;
  qovra::compose::TSendSource source;
  source.AttachmentRows = form.AttachmentCount();
  source.AttachmentBytes = form.AttachmentBytes();
  return qovra::compose::SendComposedMail(form, source);
}

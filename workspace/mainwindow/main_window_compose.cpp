// TfrmMain: a new text or voice mail and sending it.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <utility>

#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "keys/random_text.h"
#include "mail/startup.h"
#include "platform/file_utils.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/mail_send.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/new_voice_mail.h"

void TfrmMain::PresetNewMail(TNewForm& form, qovra::TMailMessage& mail) {
  StatusReady();
  mail.FolderId = qovra::kFolderOutbox;
  mail.Uuid = qovra::RandomHexString(16);
  mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
  form.Mail = &mail;
  form.WriteContent = true;
  form.ContentPreset = false;
  TframeNewMailTop* top = form.GetTopFrame();
  top->btnReceiveReport->setChecked(true);
  top->btnReadReport->setChecked(true);
  const QString to = std::exchange(new_mail_to_, QString());
  top->eTo->setText(to);
  // A mail to an address chosen elsewhere goes on with its subject.
  if (!to.isEmpty()) form.FirstFocus = top->eSubject;
}

int TfrmMain::AfterCompose(int result) {
  if (result == 1) {
    RefreshFolderCounters();
    SelectFolder(qovra::kFolderSent);
  } else if (result == 4) {
    RefreshFolderCounters();
    SelectFolder(qovra::kFolderDrafts);
  }
  return result;
}

TComposeCommands TfrmMain::ComposeCommands() const {
  TComposeCommands commands;
  commands.Send = alMain->acMailSend;
  commands.SaveToDrafts = alMain->acMailSaveToDrafts;
  commands.ContactsBook = alMain->acToolsContactsBook;
  return commands;
}

int TfrmMain::acMailNewExecute() {
  if (frmNewMail_ || frmNewVoiceMail_) {
    new_mail_to_.clear();
    return 0;
  }
  const TActiveFormScope scope(*this, TActiveFormKind::TextCompose);
  TfrmNewMail form(ComposeCommands(), this);
  qovra::TMailMessage mail;
  PresetNewMail(form, mail);
  return RunComposeForm(form);
}

int TfrmMain::acMailNewVoiceExecute() {
  if (frmNewMail_ || frmNewVoiceMail_) {
    new_mail_to_.clear();
    return 0;
  }
  const TActiveFormScope scope(*this, TActiveFormKind::VoiceCompose);
  TfrmNewVoiceMail form(ComposeCommands(), this);
  qovra::TMailMessage mail;
  PresetNewMail(form, mail);
  return RunVoiceComposeForm(form);
}

int TfrmMain::RunVoiceComposeForm(TfrmNewVoiceMail& form) {
  frmNewVoiceMail_ = &form;
  const int result = form.exec();
  frmNewVoiceMail_ = nullptr;
  return AfterCompose(result);
}

void TfrmMain::UseReaderVoice(TfrmNewVoiceMail& form, qovra::TMailReader& reader) {
  form.StatusBusy = [this](const QString& text) { StatusBusy(text); };
  form.StatusReady = [this] { StatusReady(); };
  form.ProgressBar = static_cast<QWidget*>(pnlStatusBar->pbStatus);
  form.UseReaderVoice(reader);
}

bool TfrmMain::acMailSendExecute() {
  if (frmNewVoiceMail_ && active_form_kind_ == TActiveFormKind::VoiceCompose) {
    if (frmNewVoiceMail_->Busy()) return false;
    if (!frmNewVoiceMail_->Recorded()) {
      qovra::ShowWarning(qovra::ui::HandleOf(frmNewVoiceMail_), "msgVoiceNotRecorded");
      if (frmNewVoiceMail_->btnRecord->isEnabled()) frmNewVoiceMail_->btnRecord->setFocus();
      return false;
    }
    qovra::compose::TSendSource source;
    source.KindFlags = qovra::mfVoice;
    source.AttachmentBytes = frmNewVoiceMail_->RecordedBytes();
    return qovra::compose::SendComposedMail(*frmNewVoiceMail_, source);
  }
  if (!frmNewMail_ || active_form_kind_ != TActiveFormKind::TextCompose) return false;
  TfrmNewMail& form = *frmNewMail_;
  qovra::compose::TSendSource source;
  source.AttachmentRows = form.AttachmentCount();
  source.AttachmentBytes = form.AttachmentBytes();
  return qovra::compose::SendComposedMail(form, source);
}

int TfrmMain::NewMailTo(int kind, const QString& recipients) {
  new_mail_to_ = recipients;
  return kind == 0 ? acMailNewExecute() : acMailNewVoiceExecute();
}

void TfrmMain::acToolsContactsBookExecute() {
  if (contacts_book_open_) return;
  contacts_book_open_ = true;
  QWidget* owner = QApplication::activeModalWidget();
  TfrmAddrBook book(qovra::AddrBookDb, owner ? owner : this);
  book.OnNewMail = [this](int kind, const QString& recipients) {
    (void)NewMailTo(kind, recipients);
  };
  book.Prepare();
  book.exec();
  contacts_book_open_ = false;
}

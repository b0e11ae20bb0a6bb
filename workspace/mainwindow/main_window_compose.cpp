// TfrmMain: a new text mail and sending it.
#include <QApplication>
#include <QLineEdit>
#include <QToolButton>
#include <utility>

#include "qovra/addressbook/addr_book.h"

#include "base/records.h"
#include "keys/random_text.h"
#include "mail/startup.h"
#include "qovra/workspace/mail_send.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"

int TfrmMain::acMailNewExecute() {
  if (frmNewMail_) {
    new_mail_to_.clear();
    return 0;
  }
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
  form.frameNewMailTop1->eTo->setText(std::exchange(new_mail_to_, QString()));
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

bool TfrmMain::acMailSendExecute() {
  if (!frmNewMail_ || active_form_kind_ != TActiveFormKind::TextCompose) return false;
  TfrmNewMail& form = *frmNewMail_;
  qovra::compose::TSendSource source;
  source.AttachmentRows = form.AttachmentCount();
  source.AttachmentBytes = form.AttachmentBytes();
  return qovra::compose::SendComposedMail(form, source);
}

int TfrmMain::NewMailTo(int kind, const QString& recipients) {
  if (kind != 0) {
    NotAvailable(alMain->acMailNewVoice);
    return 0;
  }
  new_mail_to_ = recipients;
  return acMailNewExecute();
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

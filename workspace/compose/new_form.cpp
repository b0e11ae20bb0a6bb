// TNewForm: the shared part of the compose windows.
#include "qovra/workspace/new_form.h"

#include <QLineEdit>
#include <QShowEvent>

#include "net/xml_maker_addresses.h"
#include "qovra/workspace/new_mail_top.h"
#include "settings/settings.h"

TNewForm::TNewForm(QWidget* parent) : QDialog(parent) {}

void TNewForm::FillMessage(qovra::TMailMessage* mail, std::string_view recipients, uint16_t flags) {
  if (!mail) return;
  mail->FromAddress = qovra::Session.OwnContact.Email;
  mail->Recipients.Clear();
  if (!recipients.empty()) (void)qovra::SplitAddressList(mail->Recipients, recipients, ';');
  if (TframeNewMailTop* top = GetTopFrame()) mail->Subject = top->eSubject->text().toStdU16String();
  mail->Flags |= flags;
}

bool TNewForm::WriteMessage(qovra::TStream&, std::string_view, void*, qovra::TProgressProc) {
  return false;
}

TframeNewMailTop* TNewForm::GetTopFrame() {
  return nullptr;
}

bool TNewForm::ConfirmClose() {
  return true;
}

void TNewForm::reject() {
  if (ConfirmClose()) QDialog::reject();
}

void TNewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Modified = false;
}

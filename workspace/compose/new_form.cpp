// TNewForm: the shared part of the compose windows.
#include "qovra/workspace/new_form.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QToolButton>

#include "net/xml_maker_addresses.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/new_mail_top.h"
#include "settings/settings.h"

TNewForm::TNewForm(QWidget* parent) : QDialog(parent) {}

void TNewForm::BuildMailMenu(TframeNewMailTop* top, QAction* extra) {
  TntMainMenu1 = new QMenuBar(this);
  TntMainMenu1->setObjectName(QStringLiteral("TntMainMenu1"));
  mnuMail = TntMainMenu1->addMenu(QString());
  mnuMail->setObjectName(QStringLiteral("mnuMail"));
  mnuMailSend = qovra::ui::NamedAction(this, "mnuMailSend");
  mnuMailSaveToDrafts = qovra::ui::NamedAction(this, "mnuMailSaveToDrafts");
  mnuMail->addAction(mnuMailSend);
  mnuMail->addAction(mnuMailSaveToDrafts);
  if (extra) mnuMail->addAction(extra);
  mnuMail->addSeparator();
  mnuSendingMode = mnuMail->addMenu(QString());
  mnuSendingMode->setObjectName(QStringLiteral("mnuSendingMode"));
  auto* modes = new QActionGroup(this);
  mnuSecureSend = qovra::ui::NamedAction(this, "mnuSecureSend");
  mnuFastSend = qovra::ui::NamedAction(this, "mnuFastSend");
  for (QAction* a : {mnuSecureSend, mnuFastSend}) {
    a->setCheckable(true);
    modes->addAction(a);
    mnuSendingMode->addAction(a);
  }
  mnuPriority = mnuMail->addMenu(QString());
  mnuPriority->setObjectName(QStringLiteral("mnuPriority"));
  auto* priorities = new QActionGroup(this);
  mnuHighPriority = qovra::ui::NamedAction(this, "mnuHighPriority");
  mnuNormalPriority = qovra::ui::NamedAction(this, "mnuNormalPriority");
  mnuLowPriority = qovra::ui::NamedAction(this, "mnuLowPriority");
  for (QAction* a : {mnuHighPriority, mnuNormalPriority, mnuLowPriority}) {
    a->setCheckable(true);
    priorities->addAction(a);
    mnuPriority->addAction(a);
  }
  mnuReport = mnuMail->addMenu(QString());
  mnuReport->setObjectName(QStringLiteral("mnuReport"));
  mnuReceiveReport = qovra::ui::NamedAction(this, "mnuReceiveReport");
  mnuReadReport = qovra::ui::NamedAction(this, "mnuReadReport");
  for (QAction* a : {mnuReceiveReport, mnuReadReport}) {
    a->setCheckable(true);
    mnuReport->addAction(a);
  }
  mnuMail->addSeparator();
  mnuCancel = qovra::ui::NamedAction(this, "mnuCancel");
  mnuMail->addAction(mnuCancel);

  // Mirrors of the frame's choices.
  connect(mnuSecureSend, &QAction::triggered, this,
          [top] { top->mnuFastModeClick(top->mnuSecureMode); });
  connect(mnuFastSend, &QAction::triggered, this,
          [top] { top->mnuFastModeClick(top->mnuFastMode); });
  connect(mnuHighPriority, &QAction::triggered, this,
          [top] { top->mnuLowPriorityClick(top->mnuHighPriority); });
  connect(mnuNormalPriority, &QAction::triggered, this,
          [top] { top->mnuLowPriorityClick(top->mnuNormalPriority); });
  connect(mnuLowPriority, &QAction::triggered, this,
          [top] { top->mnuLowPriorityClick(top->mnuLowPriority); });
  // The frame's pop-ups check the main menu's items too.
  connect(top->pmSendingMode, &QMenu::triggered, this, [this](QAction* a) {
    (a->data().toInt() == 1 ? mnuFastSend : mnuSecureSend)->setChecked(true);
  });
  connect(top->pmPriority, &QMenu::triggered, this, [this](QAction* a) {
    const int tag = a->data().toInt();
    (tag == 2 ? mnuHighPriority : tag == 1 ? mnuNormalPriority : mnuLowPriority)->setChecked(true);
  });
  connect(mnuReceiveReport, &QAction::toggled, top->btnReceiveReport, &QToolButton::setChecked);
  connect(mnuReadReport, &QAction::toggled, top->btnReadReport, &QToolButton::setChecked);
  connect(top->btnReceiveReport, &QToolButton::toggled, mnuReceiveReport, &QAction::setChecked);
  connect(top->btnReadReport, &QToolButton::toggled, mnuReadReport, &QAction::setChecked);
  connect(mnuCancel, &QAction::triggered, this, [this] { reject(); });
}

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
  TframeNewMailTop* top = GetTopFrame();
  if (!centred_) {
    centred_ = true;
    if (top) top->lbContacts->hide();
    if (FirstFocus)
      FirstFocus->setFocus();
    else if (top)
      top->eTo->setFocus();
    if (QWidget* owner = parentWidget()) {
      const QRect r = owner->window()->frameGeometry();
      move(r.center() - rect().center());
    }
  }
  if (top) top->PlaceContactsList(this);
}

void TNewForm::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    QDialog::keyPressEvent(event);
    return;
  }
  if (auto* button = qobject_cast<QAbstractButton*>(focusWidget());
      button && button->isEnabled() && button->isVisible())
    button->click();
  event->accept();
}

void TNewForm::BindSendCommands(QAction* send, QAction* save_to_drafts) {
  for (QAction* a : {send, save_to_drafts})
    if (a) addAction(a);
  if (send) connect(mnuMailSend, &QAction::triggered, send, &QAction::trigger);
  if (save_to_drafts)
    connect(mnuMailSaveToDrafts, &QAction::triggered, save_to_drafts, &QAction::trigger);
}

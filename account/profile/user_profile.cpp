#include "qovra/account/user_profile.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/messages.h"
#include "commands/account_commands.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"

namespace {

constexpr int kNameMaxLength = 32;
constexpr int kButtonWidth = 80;
constexpr int kEditWidth = 240;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

QString FromUtf16(const std::u16string& text) {
  return QString::fromStdU16String(text);
}

bool SameNames(const qovra::TContact& a, const qovra::TContact& b) {
  return a.FirstName == b.FirstName && a.MiddleName == b.MiddleName && a.LastName == b.LastName &&
         a.Company == b.Company && a.JobTitle == b.JobTitle;
}

}  // namespace

TfrmUserProfile::TfrmUserProfile(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      imgLogo(new QLabel(this)),
      lblLastName(new QLabel(this)),
      lblFirstName(new QLabel(this)),
      lblMiddleName(new QLabel(this)),
      lblCompany(new QLabel(this)),
      lblJobTitle(new QLabel(this)),
      eLastName(new qovra::ui::TEditEx(this)),
      eFirstName(new qovra::ui::TEditEx(this)),
      eMiddleName(new QLineEdit(this)),
      eCompany(new QLineEdit(this)),
      eJobTitle(new QLineEdit(this)),
      btnOK(new QPushButton(QStringLiteral("OK"), this)),
      btnCancel(new QPushButton(Msg("btnCancel"), this)) {
  setObjectName(QStringLiteral("frmUserProfile"));
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnCancel->setObjectName(QStringLiteral("btnCancel"));

  const QImage logo = qovra::ui::LoadPngResource(QStringLiteral("ico_user32"));
  if (!logo.isNull()) imgLogo->setPixmap(QPixmap::fromImage(logo));
  imgLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  eFirstName->setMaxLength(kNameMaxLength);
  eLastName->setMaxLength(kNameMaxLength);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(12, 12, 12, 12);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(8);
  const struct {
    QLabel* label;
    QLineEdit* edit;
    const char* label_name;
    const char* edit_name;
  } rows[] = {
      {lblLastName, eLastName, "lblLastName", "eLastName"},
      {lblFirstName, eFirstName, "lblFirstName", "eFirstName"},
      {lblMiddleName, eMiddleName, "lblMiddleName", "eMiddleName"},
      {lblCompany, eCompany, "lblCompany", "eCompany"},
      {lblJobTitle, eJobTitle, "lblJobTitle", "eJobTitle"},
  };
  grid->addWidget(imgLogo, 0, 0, 5, 1);
  int row = 0;
  for (const auto& r : rows) {
    r.label->setObjectName(QString::fromLatin1(r.label_name));
    r.edit->setObjectName(QString::fromLatin1(r.edit_name));
    r.label->setTextFormat(Qt::PlainText);
    r.label->setBuddy(r.edit);
    r.edit->setMinimumWidth(kEditWidth);
    grid->addWidget(r.label, row, 1);
    grid->addWidget(r.edit, row, 2);
    ++row;
  }
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addStretch(1);
  for (QPushButton* button : {btnOK, btnCancel}) button->setMinimumWidth(kButtonWidth);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  grid->addLayout(buttons, row, 0, 1, 3);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &TfrmUserProfile::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmUserProfile::reject);

  qovra::ui::ApplyLanguageToForm(this);
  eLastName->setFocus();
}

void TfrmUserProfile::Preset(const qovra::TContact& contact) {
  eFirstName->setText(FromUtf16(contact.FirstName));
  eMiddleName->setText(FromUtf16(contact.MiddleName));
  eLastName->setText(FromUtf16(contact.LastName));
  eCompany->setText(FromUtf16(contact.Company));
  eJobTitle->setText(FromUtf16(contact.JobTitle));
}

void TfrmUserProfile::reject() {
  if (busy_) return;
  done(kResultCancelled);
}

void TfrmUserProfile::btnOKClick() {
  if (busy_) return;
  const auto balloon = [this](qovra::ui::TEditEx* field, const char* key) {
    field->setFocus();
    field->ShowBalloonTip(windowTitle(), Msg(key),
                          static_cast<uint8_t>(qovra::ui::TBalloonIcon::Warning));
  };
  if (eFirstName->text().trimmed().isEmpty()) {
    balloon(eFirstName, "msgEnterFirstName");
    return;
  }
  if (eLastName->text().trimmed().isEmpty()) {
    balloon(eLastName, "msgEnterLastName");
    return;
  }
  qovra::TContact contact;
  contact.FirstName = eFirstName->text().toStdU16String();
  contact.MiddleName = eMiddleName->text().toStdU16String();
  contact.LastName = eLastName->text().toStdU16String();
  contact.Company = eCompany->text().toStdU16String();
  contact.JobTitle = eJobTitle->text().toStdU16String();
  contact.Email = qovra::Session.OwnContact.Email;
  // Exactly the same: nothing to send. A change of letter case is a change.
  if (SameNames(contact, qovra::Session.OwnContact)) {
    done(kResultDone);
    return;
  }

  busy_ = true;
  const qovra::TCommandOwner owner{
      qovra::ui::HandleOf(this), "TfrmUserProfile",
      frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  const bool changed = qovra::ChangeUserProfile(owner, contact);
  busy_ = false;
  if (!changed) return;
  qovra::ShowInfo(qovra::ui::HandleOf(this), "msgUserProfileSuccessfullyChanged");
  qovra::Session.OwnContact = contact;
  done(kResultDone);
}

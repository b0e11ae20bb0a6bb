#include "qovra/addressbook/contact_dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/messages.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/widgets.h"

namespace {

// Modal results.
constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;

constexpr int kWidth = 380;
constexpr int kMargin = 12;
constexpr int kFieldLeft = 40;
constexpr int kFieldHeight = 24;
constexpr int kRowStep = 32;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 27;

const Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowCloseButtonHint;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

// The picture, the OK and Cancel buttons of both dialogs, at the bottom
// right of a window height high.
void PlaceCommon(QDialog* dialog, QLabel* image, QPushButton* ok, QPushButton* cancel, int height) {
  image->setObjectName(QStringLiteral("imgAddr"));
  image->setGeometry(kMargin, kMargin + 4, 16, 16);
  ok->setObjectName(QStringLiteral("btnOK"));
  cancel->setObjectName(QStringLiteral("btnCancel"));
  const int top = height - kMargin - kButtonHeight;
  cancel->setGeometry(kWidth - kMargin - kButtonWidth, top, kButtonWidth, kButtonHeight);
  ok->setGeometry(kWidth - kMargin - 2 * kButtonWidth - 8, top, kButtonWidth, kButtonHeight);
  ok->setDefault(true);
  cancel->setAutoDefault(false);
  QObject::connect(ok, &QPushButton::clicked, dialog, [dialog] { dialog->done(kResultOk); });
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  dialog->setFixedSize(kWidth, height);
}

void FillCombo(qovra::SqliteDb& db, const char* table, QComboBox* combo) {
  qovra::TLookupList list;
  if (!qovra::FillLookupList(db, table, list)) return;
  for (const auto& [name, id] : list) {
    combo->addItem(QString::fromStdU16String(name), id);
  }
  combo->setCurrentIndex(-1);
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int top) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setGeometry(kFieldLeft, top, kWidth - kFieldLeft - kMargin, kFieldHeight);
  return combo;
}

}  // namespace

TfrmNewAddr::TfrmNewAddr(qovra::SqliteDb& db, QWidget* parent)
    : QDialog(parent, kDialogFlags),
      imgAddr(new QLabel(this)),
      eName(new qovra::ui::TEditEx(this)),
      eEmail(new qovra::ui::TEditEx(this)),
      cbCompany(MakeCombo(this, "cbCompany", kMargin + 2 * kRowStep)),
      cbJobtitle(MakeCombo(this, "cbJobtitle", kMargin + 3 * kRowStep)),
      btnOK(new QPushButton(this)),
      btnCancel(new QPushButton(this)) {
  setObjectName(QStringLiteral("frmNewAddr"));
  eName->setObjectName(QStringLiteral("eName"));
  eEmail->setObjectName(QStringLiteral("eEmail"));
  eName->setGeometry(kFieldLeft, kMargin, kWidth - kFieldLeft - kMargin, kFieldHeight);
  eEmail->setGeometry(kFieldLeft, kMargin + kRowStep, kWidth - kFieldLeft - kMargin, kFieldHeight);
  PlaceCommon(this, imgAddr, btnOK, btnCancel,
              kMargin + 4 * kRowStep + 8 + kButtonHeight + kMargin);
  setTabOrder(eName, eEmail);
  setTabOrder(eEmail, cbCompany);
  setTabOrder(cbCompany, cbJobtitle);
  setTabOrder(cbJobtitle, btnOK);
  setTabOrder(btnOK, btnCancel);

  qovra::ui::ApplyLanguageToForm(this);
  FillCombo(db, "eca_companies", cbCompany);
  FillCombo(db, "eca_job_titles", cbJobtitle);
  eName->SetPlaceHolder(Msg("msgFIO"));
  eEmail->SetPlaceHolder(Msg("msgEmail"));
  cbCompany->lineEdit()->setPlaceholderText(Msg("msgCompany"));
  cbJobtitle->lineEdit()->setPlaceholderText(Msg("msgJobTitle"));
  eName->setFocus();
}

void TfrmNewAddr::reject() {
  done(kResultCancel);
}

TfrmNewGroup::TfrmNewGroup(QWidget* parent)
    : QDialog(parent, kDialogFlags),
      imgAddr(new QLabel(this)),
      eName(new qovra::ui::TEditEx(this)),
      btnOK(new QPushButton(this)),
      btnCancel(new QPushButton(this)) {
  setObjectName(QStringLiteral("frmNewGroup"));
  eName->setObjectName(QStringLiteral("eName"));
  eName->setGeometry(kFieldLeft, kMargin, kWidth - kFieldLeft - kMargin, kFieldHeight);
  PlaceCommon(this, imgAddr, btnOK, btnCancel, kMargin + kRowStep + 8 + kButtonHeight + kMargin);
  setTabOrder(eName, btnOK);
  setTabOrder(btnOK, btnCancel);
  qovra::ui::ApplyLanguageToForm(this);
  eName->setFocus();
}

void TfrmNewGroup::reject() {
  done(kResultCancel);
}

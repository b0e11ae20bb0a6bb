#include "qovra/addressbook/contact_dialogs.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

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
// What a title bar needs beside its caption: the window's icon and buttons.
constexpr int kTitleBarExtra = 140;

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

// Lays dialog over a row (see TfrmNewAddr::LayOverRow); fields and cells
// pair up in order.
void PlaceOverRow(QDialog* dialog, QLabel* image, const QRect& icon,
                  const std::vector<std::pair<QWidget*, QRect>>& fields, QPushButton* ok,
                  QPushButton* cancel, const QColor& colour) {
  const QRect& first = fields.front().second;
  const int field_height = std::max(kFieldHeight, first.height());
  const int field_top = first.top() + (first.height() - field_height) / 2;
  int right = first.right();
  for (const auto& field : fields) right = std::max(right, field.second.right());
  const int left =
      (icon.isValid() ? std::min(icon.left(), first.left()) : first.left() - 20) - kMargin;
  const int buttons_width = 2 * kButtonWidth + 8;
  // Wide enough for the buttons and for the caption beside the title
  // bar's own icon and buttons.
  const int caption = QFontMetrics(dialog->font()).horizontalAdvance(dialog->windowTitle());
  const int width =
      std::max({right + 1 + kMargin - left, buttons_width + 2 * kMargin, caption + kTitleBarExtra});
  const int height = 2 * kMargin + field_height + 8 + kButtonHeight;
  // The buttons go below the fields, or above them where the screen ends.
  const QScreen* screen = QGuiApplication::screenAt(first.center());
  const int screen_bottom = screen ? screen->availableGeometry().bottom() : INT_MAX;
  const bool above = field_top - kMargin + height - 1 > screen_bottom;
  const int top = above ? field_top + field_height + kMargin - height : field_top - kMargin;

  dialog->setFixedSize(width, height);
  dialog->setGeometry(left, top, width, height);
  const QPoint origin(left, top);
  for (const auto& [widget, cell] : fields) {
    widget->setGeometry(cell.left() - left, field_top - top, cell.width(), field_height);
  }
  if (icon.isValid()) {
    image->setGeometry(QRect(icon.topLeft() - origin, QSize(16, 16))
                           .translated((icon.width() - 16) / 2, (icon.height() - 16) / 2));
  } else {
    image->setGeometry(first.left() - 18 - left, field_top - top + (field_height - 16) / 2, 16, 16);
  }
  const int buttons_top = above ? kMargin : field_top - top + field_height + 8;
  cancel->setGeometry(width - kMargin - kButtonWidth, buttons_top, kButtonWidth, kButtonHeight);
  ok->setGeometry(width - kMargin - buttons_width, buttons_top, kButtonWidth, kButtonHeight);
  QPalette palette = dialog->palette();
  palette.setColor(QPalette::Window, colour);
  dialog->setPalette(palette);
  dialog->setAutoFillBackground(true);
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

void TfrmNewAddr::LayOverRow(const QRect& icon, const std::array<QRect, 4>& cells,
                             const QColor& colour) {
  PlaceOverRow(
      this, imgAddr, icon,
      {{eName, cells[0]}, {eEmail, cells[1]}, {cbCompany, cells[2]}, {cbJobtitle, cells[3]}}, btnOK,
      btnCancel, colour);
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

void TfrmNewGroup::LayOverRow(const QRect& icon, const QRect& cell, const QColor& colour) {
  PlaceOverRow(this, imgAddr, icon, {{eName, cell}}, btnOK, btnCancel, colour);
}

void TfrmNewGroup::reject() {
  done(kResultCancel);
}

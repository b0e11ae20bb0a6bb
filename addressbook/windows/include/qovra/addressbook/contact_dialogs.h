// TfrmNewAddr and TfrmNewGroup: the contact and group editors of the
// address book.
//
// Their callers create them for one edit, set the caption, the picture and
// the texts, lay them over the edited row (LayOverRow), run them modally
// and read the fields afterwards; the dialogs check nothing. Results: 1 OK
// (also Enter), 2 Cancel (also Escape and the close button).
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QDialog>
#include <QRect>
#include <array>

class QComboBox;
class QLabel;
class QPushButton;

namespace qovra {
class SqliteDb;
namespace ui {
class TEditEx;
}
}  // namespace qovra

class TfrmNewAddr : public QDialog {
  Q_OBJECT

 public:
  // TntFormCreate: the language, the company and job-title lists from db
  // (every stored name, with its id as the item's data, in table order)
  // and the placeholders of the name and address fields. A closed db leaves
  // the lists empty.
  explicit TfrmNewAddr(qovra::SqliteDb& db, QWidget* parent = nullptr);

  // Lays the window over a row (screen coordinates): imgAddr over icon (or
  // left of the name when icon is empty), eName, eEmail, cbCompany and
  // cbJobtitle over the four cells, each as wide as its cell and centred
  // on the row, the buttons at the right below them (above them when the
  // screen ends first); the window takes colour.
  void LayOverRow(const QRect& icon, const std::array<QRect, 4>& cells, const QColor& colour);

  QLabel* imgAddr;
  qovra::ui::TEditEx* eName;
  qovra::ui::TEditEx* eEmail;
  QComboBox* cbCompany;
  QComboBox* cbJobtitle;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 public slots:
  void reject() override;
};

class TfrmNewGroup : public QDialog {
  Q_OBJECT

 public:
  // FormCreate: the language.
  explicit TfrmNewGroup(QWidget* parent = nullptr);

  // As TfrmNewAddr::LayOverRow with eName over the one cell.
  void LayOverRow(const QRect& icon, const QRect& cell, const QColor& colour);

  QLabel* imgAddr;
  qovra::ui::TEditEx* eName;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 public slots:
  void reject() override;
};

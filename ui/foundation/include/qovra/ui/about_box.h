// The about box: the program's icon, "Qovra " and the version, a short
// description and a one-line notice in the language of the settings. One
// button closes it; Enter, Escape and the button all give result 2.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  // Fills the box (FormCreate). program_file is the file whose version the
  // product line shows; empty means the running program.
  explicit TfrmAbout(QWidget* owner = nullptr, const QString& program_file = QString());

  QLabel* imgLogo;
  QLabel* lblProgramInfo;
  QLabel* lblAboutDesc;
  QLabel* lblCopyright;
  QPushButton* btnOK;

 public slots:
  void reject() override;
  void accept() override;
};

namespace qovra::ui {

// Shows the about box modally over owner and frees it.
void ShowAboutBox(QWidget* owner);

}  // namespace qovra::ui

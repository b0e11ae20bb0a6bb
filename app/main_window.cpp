#include "main_window.h"

#include <QCloseEvent>
#include <QWidget>

#include "qovra/settings.h"

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromStdString(qovra::ApplicationTitle));
  setCentralWidget(new QWidget(this));
  resize(800, 560);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) emit closed();
}

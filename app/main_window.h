// The program's main window, TfrmMain. It is created once after a
// successful login and lives until the program ends; closing it ends the
// program. Its folders, mail list, menus and actions come with the main
// window's own work; for now it is an empty window with the program's title.
//
// GUI thread only.
#pragma once

#include <QMainWindow>

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);

 signals:
  // The window has closed: the program's event loop ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
};

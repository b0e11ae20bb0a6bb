// TfrmMailReport: the delivery report of a sent mail: a heading, one row
// per recipient with the received and read times, Print and Close. The
// delivery-report command fills it; Print prints ReportText in Courier New
// 10 through the print dialog, titled with the dialog's caption.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

class TfrmMailReport : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmMailReport(QWidget* parent = nullptr);

  void btnPrintClick();

  // The whole report as plain text (what Print prints).
  QString ReportText;

  QPlainTextEdit* lblReportTitle = nullptr;
  QTreeWidget* lvReport = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnPrint = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};

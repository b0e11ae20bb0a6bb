// TfrmMailReport: the delivery report of a sent mail: a heading, one row
// per recipient with the received and read times, Print and Close. The
// delivery-report command fills it; printing is not built yet and says so.
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

  QPlainTextEdit* lblReportTitle;
  QTreeWidget* lvReport;
  QPushButton* btnOK;
  QPushButton* btnPrint;

 protected:
  void showEvent(QShowEvent* event) override;
};

#include "qovra/workspace/mail_report.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "base/messages.h"
#include "qovra/ui/apply_language.h"
#include "qovra/workspace/print_text.h"

TfrmMailReport::TfrmMailReport(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmMailReport"));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  resize(412, 275);
  lblReportTitle = new QPlainTextEdit(this);
  lblReportTitle->setObjectName(QStringLiteral("lblReportTitle"));
  lblReportTitle->setReadOnly(true);
  lblReportTitle->setFrameShape(QFrame::NoFrame);
  lblReportTitle->setMaximumHeight(48);
  lvReport = new QTreeWidget(this);
  lvReport->setObjectName(QStringLiteral("lvReport"));
  lvReport->setRootIsDecorated(false);
  lvReport->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvReport->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvReport->setColumnCount(3);
  btnOK = new QPushButton(this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnPrint = new QPushButton(this);
  btnPrint->setObjectName(QStringLiteral("btnPrint"));
  connect(btnOK, &QPushButton::clicked, this, [this] { done(2); });
  connect(btnPrint, &QPushButton::clicked, this, [this] { btnPrintClick(); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnPrint);
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  auto* column = new QVBoxLayout(this);
  column->addWidget(lblReportTitle);
  column->addWidget(lvReport, 1);
  column->addLayout(buttons);

  qovra::ApplyLanguage(this);
  lvReport->setHeaderLabels({QString::fromStdString(qovra::GetMsg("msgRecipients")),
                             QString::fromStdString(qovra::GetMsg("msgReceived")),
                             QString::fromStdString(qovra::GetMsg("msgRead"))});
}

void TfrmMailReport::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The heading's lines without a scroll bar.
  const QFontMetrics metrics(lblReportTitle->font());
  const int lines = std::max(1, lblReportTitle->document()->blockCount());
  lblReportTitle->setMaximumHeight(QWIDGETSIZE_MAX);
  lblReportTitle->setFixedHeight(
      metrics.lineSpacing() * lines +
      2 * static_cast<int>(lblReportTitle->document()->documentMargin()) +
      2 * lblReportTitle->frameWidth() + 2);
  // Wide enough for every column's contents, within the screen.
  int wanted = 2 * lvReport->frameWidth() + lvReport->verticalScrollBar()->sizeHint().width();
  for (int column = 0; column < lvReport->columnCount(); ++column) {
    lvReport->resizeColumnToContents(column);
    wanted += lvReport->columnWidth(column);
  }
  const QMargins margins = layout()->contentsMargins();
  wanted += margins.left() + margins.right();
  if (const QScreen* s = screen()) wanted = std::min(wanted, s->availableGeometry().width() - 40);
  if (width() < wanted) resize(wanted, height());
  if (parentWidget()) {
    const QRect owner = parentWidget()->window()->frameGeometry();
    move(owner.center() - rect().center());
  }
}

void TfrmMailReport::btnPrintClick() {
  // Fixed width, so that the report's columns line up on paper.
  (void)qovra::ui::PrintText(this, QStringLiteral("Courier new"), 10, ReportText, windowTitle());
}

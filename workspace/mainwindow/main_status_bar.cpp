#include "qovra/workspace/main_status_bar.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>

#include "base/messages.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/size_grip.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/progress.h"

namespace qovra::ui {
namespace {

// A bar moves on screen at most about 30 times a second.
constexpr qint64 kPaintIntervalMs = 33;

}  // namespace

TMainStatusBar::TMainStatusBar(QWidget* form) : TPanelEx(form) {
  setObjectName(QStringLiteral("pnlStatusBar"));
  SetBorders(beTop);
  SetInnerMargin(2);
  setFixedHeight(24);

  lblStatus = new QLabel(this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  pbStatus = new TProgressBarEx(this);
  pbStatus->setObjectName(QStringLiteral("pbStatus"));
  pbStatus2 = new TProgressBarEx(this);
  pbStatus2->setObjectName(QStringLiteral("pbStatus2"));
  for (TProgressBarEx* bar : {pbStatus, pbStatus2}) {
    bar->setFixedHeight(16);
    bar->SetAColor(QColor(158, 180, 194));
    bar->SetBColor(QColor(92, 124, 148));
    bar->hide();
  }
  pbStatus2->setFixedWidth(120);
  wlUpdate = new TWebLink(this);
  wlUpdate->setObjectName(QStringLiteral("wlUpdate"));
  wlUpdate->SetFontColor(QColor(0, 128, 0));
  wlUpdate->SetHotFontColor(QColor(50, 205, 50));
  wlUpdate->hide();

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 0, TSizeGrip::kSize + 2, 0);
  row->setSpacing(6);
  row->addWidget(lblStatus);
  row->addWidget(pbStatus);
  row->addStretch(1);
  row->addWidget(pbStatus2);
  row->addWidget(wlUpdate);

  grip = new TSizeGrip(form);
  grip->setObjectName(QStringLiteral("grip"));
  grip->PlaceOnPanel(this);
}

QLabel* TMainStatusBar::StatusLabel() const {
  return status_label_ ? status_label_.data() : lblStatus;
}

void TMainStatusBar::SetStatusLabel(QLabel* label) {
  status_label_ = label;
}

void TMainStatusBar::StatusBusy(const QString& text) {
  QLabel* label = StatusLabel();
  label->setText(text);
  pbStatus->setFixedWidth(label->fontMetrics().horizontalAdvance(text) + 4);
  pbStatus->SetProgress(0);
  pbStatus->show();
  if (!busy_) QApplication::setOverrideCursor(Qt::WaitCursor);
  busy_ = true;
  // The work that follows runs no event loop: place the shown bar and
  // paint the text and the bar now.
  layout()->activate();
  repaint();
  pbStatus->repaint();
  if (label != lblStatus) label->repaint();
  last_paint_.start();
}

void TMainStatusBar::SetBarProgress(TProgressBarEx* bar, int64_t done, int64_t total) {
  const int before = bar->Percentage();
  bar->SetProgress(ScaleProgress(done, total, bar->MaxValue()));
  if (bar->Percentage() == before || !bar->isVisible()) return;
  if (done < total && last_paint_.isValid() && last_paint_.elapsed() < kPaintIntervalMs) return;
  bar->repaint();
  last_paint_.start();
}

void TMainStatusBar::StatusReady() {
  if (busy_) QApplication::restoreOverrideCursor();
  busy_ = false;
  for (TProgressBarEx* bar : {pbStatus, pbStatus2}) {
    bar->SetProgress(0);
    bar->hide();
  }
  StatusLabel()->setText(QString::fromStdString(GetMsg("msgReady")));
}

}  // namespace qovra::ui

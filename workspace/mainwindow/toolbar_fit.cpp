#include "qovra/workspace/toolbar_fit.h"

#include <QAction>
#include <QActionEvent>
#include <QFontMetrics>
#include <QResizeEvent>
#include <QToolBar>
#include <algorithm>

namespace qovra::ui {

TToolbarFit::TToolbarFit(QToolBar& bar) : QObject(&bar), bar_(&bar), bar_object_(&bar) {
  later_.setSingleShot(true);
  later_.setInterval(0);
  connect(&later_, &QTimer::timeout, this, &TToolbarFit::Fit);
  for (QAction* action : bar.actions()) Watch(action);
  bar.installEventFilter(this);
}

QString TToolbarFit::TwoLineText(const QString& text, const QFontMetrics& metrics) {
  qsizetype best = -1;
  int best_width = 0;
  for (qsizetype i = text.indexOf(QLatin1Char(' ')); i >= 0;
       i = text.indexOf(QLatin1Char(' '), i + 1)) {
    const int width = std::max(metrics.horizontalAdvance(text.left(i)),
                               metrics.horizontalAdvance(text.mid(i + 1)));
    if (best < 0 || width < best_width) {
      best = i;
      best_width = width;
    }
  }
  // A single word keeps an empty second line: every icon stays on one row.
  if (best < 0) return text + QLatin1Char('\n');
  return text.left(best) + QLatin1Char('\n') + text.mid(best + 1);
}

void TToolbarFit::Watch(QAction* action) {
  texts_[action] = action->text();
  connect(action, &QAction::changed, this, [this, action] {
    // Only a new text asks for a new layout (not a change of state).
    if (fitting_ || texts_.value(action) == action->text()) return;
    texts_[action] = action->text();
    later_.start();
  });
}

void TToolbarFit::Apply(Mode mode) {
  const QFontMetrics metrics(bar_->font());
  for (QAction* action : bar_->actions()) {
    if (action->isSeparator()) continue;
    action->setIconText(QString());  // the text, as menus show it, without "&"
    if (mode == Mode::TwoLines) action->setIconText(TwoLineText(action->iconText(), metrics));
  }
  bar_->setToolButtonStyle(mode == Mode::IconsOnly ? Qt::ToolButtonIconOnly
                                                   : Qt::ToolButtonTextUnderIcon);
}

bool TToolbarFit::AllFit() const {
  return bar_->sizeHint().width() <= bar_->width();
}

void TToolbarFit::Fit() {
  if (!bar_ || fitting_) return;
  fitting_ = true;
  Mode chosen = Mode::IconsOnly;
  for (const Mode mode : {Mode::OneLine, Mode::TwoLines}) {
    Apply(mode);
    if (AllFit()) {
      chosen = mode;
      break;
    }
  }
  if (chosen == Mode::IconsOnly) Apply(chosen);
  mode_ = chosen;
  fitting_ = false;
}

bool TToolbarFit::eventFilter(QObject* watched, QEvent* event) {
  // watched is compared as an object only: the toolbar sends events here
  // while it is destroyed too.
  if (watched == bar_object_) {
    if (event->type() == QEvent::Resize) {
      const auto* resize = static_cast<QResizeEvent*>(event);
      if (resize->oldSize().width() != resize->size().width()) Fit();
    } else if (event->type() == QEvent::ActionAdded) {
      Watch(static_cast<QActionEvent*>(event)->action());
      later_.start();
    } else if (event->type() == QEvent::FontChange) {
      later_.start();
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace qovra::ui

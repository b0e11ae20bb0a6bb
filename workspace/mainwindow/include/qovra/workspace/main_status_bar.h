// The main window's status bar (pnlStatusBar): the status text lblStatus,
// the list progress bar pbStatus beside it, a second bar pbStatus2, the
// update link wlUpdate and the size grip in the corner.
//
// GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "qovra/controls/panel_ex.h"

namespace qovra::ui {

class TProgressBarEx;
class TSizeGrip;
class TWebLink;

class TMainStatusBar : public TPanelEx {
  Q_OBJECT

 public:
  // The grip resizes form.
  explicit TMainStatusBar(QWidget* form);

  // The label the status texts go to: lblStatus, or while a viewer is
  // open its footer's label. Null, or a label that has died, means
  // lblStatus.
  QLabel* StatusLabel() const;
  void SetStatusLabel(QLabel* label);

  // Shows text in StatusLabel, sizes pbStatus to the text's width + 4 and
  // shows it at 0, and paints them at once (the busy work runs no event
  // loop); the cursor becomes the hourglass until StatusReady.
  void StatusBusy(const QString& text);
  // Moves bar (pbStatus or pbStatus2) to done of total and, when its
  // percentage changed and it is shown, paints it at once: at most about 30
  // times a second, and always when done reaches total.
  void SetBarProgress(TProgressBarEx* bar, int64_t done, int64_t total);
  // Restores the cursor, hides both bars at 0 and shows msgReady in
  // StatusLabel. Does nothing to the cursor unless StatusBusy set it.
  void StatusReady();
  bool Busy() const { return busy_; }

  QLabel* lblStatus;
  TProgressBarEx* pbStatus;
  TProgressBarEx* pbStatus2;
  TWebLink* wlUpdate;
  TSizeGrip* grip;

 private:
  bool busy_ = false;
  QPointer<QLabel> status_label_;  // null: lblStatus
  QElapsedTimer last_paint_;       // the last bar paint
};

// Sends the status texts of bar to label while it lives, to lblStatus
// again afterwards.
class TStatusLabelScope {
 public:
  TStatusLabelScope(TMainStatusBar& bar, QLabel* label) : bar_(bar) { bar_.SetStatusLabel(label); }
  ~TStatusLabelScope() { bar_.SetStatusLabel(nullptr); }
  TStatusLabelScope(const TStatusLabelScope&) = delete;
  TStatusLabelScope& operator=(const TStatusLabelScope&) = delete;

 private:
  TMainStatusBar& bar_;
};

}  // namespace qovra::ui

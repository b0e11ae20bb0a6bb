// Keeps every button of a toolbar in sight as its window narrows, in the
// buttons' order: the captions under the icons on one line while all
// buttons fit; else the captions on two lines (broken at the blank that
// makes the wider line narrowest, one word over an empty line, so that the
// icons stay on one row); else the icons alone, the
// captions staying the buttons' tool tips. The captions are the actions'
// texts (the language files'); a text that changes (a language change) is
// laid out again. Only when not even the icons fit does the toolbar's own
// overflow arrow take the last buttons.
//
// GUI thread only.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QAction;
class QFontMetrics;
class QToolBar;

namespace qovra::ui {

class TToolbarFit : public QObject {
 public:
  enum class Mode { OneLine, TwoLines, IconsOnly };

  // Fits bar's buttons from now on. Owned by bar.
  explicit TToolbarFit(QToolBar& bar);

  // Chooses the first mode whose buttons all fit the toolbar's width.
  void Fit();
  Mode CurrentMode() const { return mode_; }

  // text on two lines, broken at the blank that makes the wider line
  // narrowest in metrics; a text without a blank over an empty second line.
  static QString TwoLineText(const QString& text, const QFontMetrics& metrics);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Apply(Mode mode);
  bool AllFit() const;
  void Watch(QAction* action);

  QPointer<QToolBar> bar_;
  const QObject* bar_object_ = nullptr;  // for telling its events apart only
  Mode mode_ = Mode::OneLine;
  bool fitting_ = false;
  QTimer later_;                    // one fit for a burst of new texts
  QHash<QAction*, QString> texts_;  // the texts the buttons were fitted for
};

}  // namespace qovra::ui

// The column widths of the main window's mail list (lvMain over a
// TMailListModel).
//
// The subject takes the width the other columns leave. Those keep their
// preferred widths while the subject keeps at least its minimum: the two
// icon columns 24 pixels, the sender or recipients 200, each time column as
// wide as any time text in the bold font of an unread mail, every column at
// least as wide as its caption. When the list is too narrow for that, the
// sender or recipients column gives way first, down to its widest text (at
// most its preferred width); when even then the subject would get less than
// its minimum, the subject keeps its minimum and the list scrolls sideways,
// so no column is ever narrower than its texts. A column the user resizes
// keeps that width as its preferred one; the subject's own edge does not
// move.
//
// The widths follow the list's width, its rows and its captions (a language
// change) on their own. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <array>

#include "qovra/workspace/mail_list_model.h"

class QTreeView;

namespace qovra::ui {

class TMailListColumns : public QObject {
 public:
  // Lays out the columns of view, whose model is a TMailListModel, from now
  // on. Owned by view.
  explicit TMailListColumns(QTreeView& view);

  // Lays the columns out for the list's present width, rows and captions.
  void Fit();
  // The narrowest the subject gets before the list scrolls sideways: 16
  // average characters, at least its caption.
  int SubjectMinimum() const;
  // The width of any time text "yyyy.mm.dd hh:mm:ss" in the bold font of an
  // unread mail, with the cell's margins.
  int TimeTextWidth() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SectionResized(int column, int old_size, int new_size);
  // The width column would like: the user's, else its default; at least
  // its caption.
  int Preferred(int column) const;
  // The width of column's caption and widest text.
  int ContentWidth(int column) const;

  QPointer<QTreeView> view_;
  // The view and its viewport, for telling their events apart only.
  const QObject* view_object_ = nullptr;
  const QObject* viewport_ = nullptr;
  bool fitting_ = false;
  // Widths the user gave the columns; 0: none.
  std::array<int, TMailListModel::kColumnCount> user_{};
};

}  // namespace qovra::ui

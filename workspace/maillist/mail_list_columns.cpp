#include "qovra/workspace/mail_list_columns.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTreeView>
#include <algorithm>

namespace qovra::ui {
namespace {

using Col = TMailListModel::Column;

constexpr int kIconColumnWidth = 24;
constexpr int kAddressColumnWidth = 200;
constexpr int kSubjectMinimumChars = 16;

// The list's own columns' hints are public on the item view.
int CellsWidth(const QTreeView& view, int column) {
  const QAbstractItemView& cells = view;
  return cells.sizeHintForColumn(column);
}

}  // namespace

TMailListColumns::TMailListColumns(QTreeView& view)
    : QObject(&view), view_(&view), view_object_(&view), viewport_(view.viewport()) {
  QHeaderView* header = view.header();
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(kIconColumnWidth);
  for (int c = 0; c < Col::kColumnCount; ++c)
    header->setSectionResizeMode(
        c, c == Col::kColSubject ? QHeaderView::Fixed : QHeaderView::Interactive);
  connect(header, &QHeaderView::sectionResized, this, &TMailListColumns::SectionResized);
  if (QAbstractItemModel* model = view.model()) {
    auto fit = [this] { Fit(); };
    connect(model, &QAbstractItemModel::modelReset, this, fit);
    connect(model, &QAbstractItemModel::layoutChanged, this, fit);
    connect(model, &QAbstractItemModel::rowsInserted, this, fit);
    connect(model, &QAbstractItemModel::headerDataChanged, this, fit);
  }
  view.viewport()->installEventFilter(this);
  view.installEventFilter(this);
}

int TMailListColumns::TimeTextWidth() const {
  // Any time text: the widest digit in every place, in bold.
  QFont bold = view_->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  QChar widest = QLatin1Char('0');
  for (char digit = '1'; digit <= '9'; ++digit) {
    if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest))
      widest = QLatin1Char(digit);
  }
  QString sample = QStringLiteral("0000.00.00 00:00:00");
  sample.replace(QLatin1Char('0'), widest);
  // The item's text margins, as the style sizes a cell.
  const int margin = view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 1;
  return metrics.horizontalAdvance(sample) + 2 * margin;
}

int TMailListColumns::SubjectMinimum() const {
  const int chars = view_->fontMetrics().averageCharWidth() * kSubjectMinimumChars;
  return std::max(chars, view_->header()->sectionSizeHint(Col::kColSubject));
}

int TMailListColumns::Preferred(int column) const {
  int width = user_[column];
  if (width == 0) {
    switch (column) {
      case Col::kColState:
      case Col::kColKind:
        return kIconColumnWidth;  // an image, no caption
      case Col::kColAddress:
        width = kAddressColumnWidth;
        break;
      default:
        width = std::max(TimeTextWidth(), CellsWidth(*view_, column));
        break;
    }
  }
  return std::max(width, view_->header()->sectionSizeHint(column));
}

int TMailListColumns::ContentWidth(int column) const {
  return std::max(CellsWidth(*view_, column), view_->header()->sectionSizeHint(column));
}

void TMailListColumns::Fit() {
  if (!view_ || fitting_) return;
  fitting_ = true;
  QHeaderView* header = view_->header();
  std::array<int, Col::kColumnCount> width{};
  int others = 0;
  for (int c = 0; c < Col::kColumnCount; ++c) {
    if (c == Col::kColSubject) continue;
    width[c] = Preferred(c);
    others += width[c];
  }
  const int room = view_->viewport()->width();
  const int subject_min = SubjectMinimum();
  const int subject_want = std::max(subject_min, ContentWidth(Col::kColSubject));
  if (others + subject_want > room) {
    // The sender or recipients give way before the subject is cut, down to
    // their widest text.
    const int floor = std::min(width[Col::kColAddress], ContentWidth(Col::kColAddress));
    const int give = std::min(width[Col::kColAddress] - floor, others + subject_want - room);
    width[Col::kColAddress] -= give;
    others -= give;
  }
  width[Col::kColSubject] = std::max(subject_min, room - others);
  for (int c = 0; c < Col::kColumnCount; ++c)
    if (header->sectionSize(c) != width[c]) header->resizeSection(c, width[c]);
  fitting_ = false;
}

void TMailListColumns::SectionResized(int column, int /*old_size*/, int new_size) {
  if (fitting_ || column == Col::kColSubject) return;
  // The user's drag: the column keeps it, the subject follows.
  user_[column] = new_size;
  Fit();
}

bool TMailListColumns::eventFilter(QObject* watched, QEvent* event) {
  // watched is compared as an object only: while the view is destroyed its
  // children still send events here.
  const QEvent::Type type = event->type();
  if ((type == QEvent::Resize && watched == viewport_) ||
      ((type == QEvent::FontChange || type == QEvent::StyleChange) && watched == view_object_))
    Fit();
  return QObject::eventFilter(watched, event);
}

}  // namespace qovra::ui

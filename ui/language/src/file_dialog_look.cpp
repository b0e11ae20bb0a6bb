#include "qovra/ui/file_dialog_look.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "base/msg_format.h"

namespace qovra::ui {
namespace {

// The columns of Qt's file system model.
constexpr int kNameColumn = 0;
constexpr int kSizeColumn = 1;
constexpr int kTypeColumn = 2;
constexpr int kDateColumn = 3;

constexpr qint64 kKilobyte = 1024;

// "<count> bytes" from the message table; null when the table lacks it.
QString ByteCountText(const QString& count) {
  constexpr std::string_view kKey = "msgFileSizeBytes";
  const std::string pattern = GetMsg(kKey);
  if (pattern == MsgTextFromKey(kKey)) return {};
  const std::string text = FormatMsgArgs(pattern, count.toStdString());
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The detail view of Qt's own file dialog carries this object name.
constexpr char kDetailViewName[] = "treeView";
// Set on a detail view once it has the look.
constexpr char kLookProperty[] = "qovraFileDialogLook";

class TFileDialogDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString text = FileDialogCellText(index);
    if (!text.isNull()) option->text = text;
  }
};

// Fits the columns once the rows stop changing (coalesced into one pass
// per event-loop turn).
class TColumnFitter : public QObject {
 public:
  explicit TColumnFitter(QTreeView& view) : QObject(&view), view_(&view) {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (view_) FitFileDialogColumns(*view_);
    });
    const QAbstractItemModel* model = view.model();
    if (!model) return;
    auto later = [this] { timer_.start(); };
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::dataChanged, this, later);
    connect(model, &QAbstractItemModel::layoutChanged, this, later);
    connect(model, &QAbstractItemModel::modelReset, this, later);
    later();
  }
  void Later() { timer_.start(); }

 private:
  QPointer<QTreeView> view_;
  QTimer timer_;
};

// Texts of Qt's file dialogs that Qt's own translations lack, from the
// message table; Qt's text where the table has none. Qt asks from its file
// information thread too, so the texts are copied from the table on the
// interface thread (Refresh) and read under a lock.
class TFileDialogTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;

  // Interface thread: takes the texts from the message table.
  void Refresh() {
    QStringList texts;
    for (const TQtText& t : kQtTexts) {
      const std::string text = GetMsg(t.key);
      texts << (text == MsgTextFromKey(t.key)  // not in the table
                    ? QString()
                    : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    const QMutexLocker lock(&mutex_);
    texts_ = texts;
  }

  QString translate(const char* context, const char* source, const char* /*disambiguation*/,
                    int /*n*/) const override {
    for (qsizetype i = 0; i < static_cast<qsizetype>(std::size(kQtTexts)); ++i) {
      const TQtText& t = kQtTexts[i];
      if (std::strcmp(context, t.context) != 0 || std::strcmp(source, t.source) != 0) continue;
      const QMutexLocker lock(&mutex_);
      return texts_.value(i);
    }
    return {};
  }
  bool isEmpty() const override { return false; }

 private:
  struct TQtText {
    const char* context;
    const char* source;
    const char* key;
  };
  // The Type column's word for a folder.
  static constexpr TQtText kQtTexts[] = {
      {"QAbstractFileIconProvider", "Folder", "msgFolderFileType"},
  };

  mutable QMutex mutex_;
  QStringList texts_;  // by kQtTexts' order; null: Qt's own
};

QPointer<TFileDialogTexts>& Texts() {
  static QPointer<TFileDialogTexts> texts;
  return texts;
}

void GiveLook(QFileDialog& dialog) {
  RefreshFileDialogTexts();
  auto* view = dialog.findChild<QTreeView*>(QLatin1String(kDetailViewName));
  if (!view) return;  // a native dialog: the desktop's own
  if (view->property(kLookProperty).toBool()) {
    if (auto* fitter = view->findChild<TColumnFitter*>()) fitter->Later();
    return;
  }
  view->setProperty(kLookProperty, true);
  view->setItemDelegate(new TFileDialogDelegate(view));
  // The name takes the width the other columns leave, so that the date
  // stays in sight in the dialog's width.
  view->header()->setStretchLastSection(false);
  view->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
  new TColumnFitter(*view);
}

class TFileDialogWatcher : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* dialog = qobject_cast<QFileDialog*>(watched)) GiveLook(*dialog);
    }
    return false;
  }
};

}  // namespace

QString FileDialogCellText(const QModelIndex& index) {
  QModelIndex source = index;
  const QAbstractItemModel* model = index.model();
  while (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model)) {
    source = proxy->mapToSource(source);
    model = proxy->sourceModel();
  }
  const auto* files = qobject_cast<const QFileSystemModel*>(model);
  if (!files || !source.isValid()) return {};
  const QLocale locale;
  switch (source.column()) {
    case kSizeColumn: {
      // A folder shows no size, as in the model.
      if (files->isDir(source)) return QStringLiteral("");
      const qint64 size = files->size(source);
      if (size < kKilobyte) {
        const QString bytes = ByteCountText(locale.toString(size));
        if (!bytes.isNull()) return bytes;
      }
      // Kilobytes of 1024 bytes and so on, named as the locale names them.
      return locale.formattedDataSize(size, 2, QLocale::DataSizeTraditionalFormat);
    }
    case kDateColumn:
      return locale.toString(files->lastModified(source), QLocale::ShortFormat);
    default:
      return {};
  }
}

void FitFileDialogColumns(QTreeView& view) {
  QHeaderView* header = view.header();
  const QAbstractItemView& cells = view;  // where the cell size hints are public
  for (const int column : {kSizeColumn, kTypeColumn, kDateColumn}) {
    if (column >= header->count() || header->isSectionHidden(column)) continue;
    const int needed = std::max(cells.sizeHintForColumn(column), header->sectionSizeHint(column));
    if (header->sectionSize(column) < needed) header->resizeSection(column, needed);
  }
}

void RefreshFileDialogTexts() {
  if (Texts()) Texts()->Refresh();
}

void InstallFileDialogLook() {
  static QPointer<TFileDialogWatcher> watcher;
  auto* app = QCoreApplication::instance();
  if (!app || watcher) return;
  watcher = new TFileDialogWatcher(app);
  app->installEventFilter(watcher);
  Texts() = new TFileDialogTexts(watcher);
  Texts()->Refresh();
  QCoreApplication::installTranslator(Texts());
}

}  // namespace qovra::ui

#include "qovra/ui/shell.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QList>
#include <QMimeDatabase>
#include <QScreen>

namespace qovra::ui {

namespace {

class QtFolderChooser : public IFolderChooser {
 public:
  QString ChooseFolder(QWidget* owner, const QString& title, const QString& initial_dir) override {
    QFileDialog dialog(owner, title, initial_dir);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!initial_dir.isEmpty()) {
      QScreen* screen = QGuiApplication::primaryScreen();
      if (screen) {
        const QRect area = screen->availableGeometry();
        const QSize size = dialog.sizeHint();
        dialog.move(area.x() + (area.width() - size.width()) / 2,
                    area.y() + (area.height() - size.height()) / 2);
      }
    }
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
  }
};

IFolderChooser* g_chooser = nullptr;

struct IconList {
  QHash<QString, int> by_type;
  QList<QIcon> icons;
};

IconList& Icons() {
  static IconList list;
  return list;
}

}  // namespace

void SetFolderChooser(IFolderChooser* chooser) {
  g_chooser = chooser;
}

QString BrowseForFolderW(QWidget* owner, const QString& title, const QString& initial_dir) {
  QtFolderChooser qt_chooser;
  IFolderChooser& chooser = g_chooser ? *g_chooser : qt_chooser;
  const QString answer = chooser.ChooseFolder(owner, title, initial_dir);
  if (answer.isEmpty()) return QString();
  const QFileInfo info(answer);
  if (!info.isAbsolute() || !info.isDir()) return QString();
  return QDir::cleanPath(info.absoluteFilePath());
}

std::string BrowseForFolderA(QWidget* owner, std::string_view title, std::string_view initial_dir) {
  return BrowseForFolderW(
             owner, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
             QString::fromUtf8(initial_dir.data(), static_cast<qsizetype>(initial_dir.size())))
      .toStdString();
}

int GetFileIconIndex(const QString& file_name) {
  const QMimeDatabase mime_db;
  const QMimeType type = mime_db.mimeTypeForFile(file_name, QMimeDatabase::MatchExtension);
  const QString key = type.isValid() ? type.name() : QStringLiteral("application/octet-stream");
  IconList& list = Icons();
  const auto found = list.by_type.constFind(key);
  if (found != list.by_type.constEnd()) return found.value();
  // The icon of the type, looked up by name only: the file need not exist.
  const QFileIconProvider provider;
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull()) icon = provider.icon(QFileInfo(file_name));
  if (icon.isNull()) icon = provider.icon(QAbstractFileIconProvider::File);
  const int index = static_cast<int>(list.icons.size());
  list.icons.push_back(icon);
  list.by_type.insert(key, index);
  return index;
}

QIcon SystemImageIcon(int index) {
  const IconList& list = Icons();
  if (index < 0 || index >= list.icons.size()) return QIcon();
  return list.icons[index];
}

int SystemImageCount() {
  return static_cast<int>(Icons().icons.size());
}

}  // namespace qovra::ui
